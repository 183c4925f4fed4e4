#include "system/file_time.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace veldmoor {

std::int64_t LastWriteTime(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    // tv_sec already rounds towards minus infinity, as whole seconds of a file time should.
    return static_cast<std::int64_t>(info.st_mtim.tv_sec);
}

bool SetLastWriteTime(const std::string& path, std::int64_t secondsSince1970) {
    struct timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(secondsSince1970);
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace veldmoor
