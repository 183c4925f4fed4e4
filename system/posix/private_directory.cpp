#include "system/private_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace veldmoor {

bool EnsurePrivateDirectory(const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    if (mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        return false;
    }
    // lstat, not stat: a symbolic link planted in the shared folder must not redirect the copy.
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != geteuid()) {
        return false;
    }
    constexpr mode_t kOthersMayWrite = S_IWGRP | S_IWOTH;
    if ((status.st_mode & kOthersMayWrite) != 0 &&
        chmod(folder.c_str(), status.st_mode & 07777 & ~kOthersMayWrite) != 0) {
        return false;
    }
    return true;
}

}  // namespace veldmoor
