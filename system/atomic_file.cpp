#include "system/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "system/path.h"

namespace veldmoor {
namespace {

bool Fail(std::string* error, const std::string& what) {
    if (error != nullptr) {
        *error = what + ": " + std::strerror(errno);
    }
    return false;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

mode_t ModeFor(const std::string& path) {
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0) {
        return existing.st_mode & 07777;
    }
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Makes the rename itself durable; failures here do not undo a rename that already happened.
void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
    std::string pattern = path + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return Fail(error, "cannot create a temporary file next to '" + path + "'");
    }
    const std::string temporary(name.data());
    const auto abandon = [&](const std::string& what) {
        const int savedErrno = errno;
        close(fd);
        unlink(temporary.c_str());
        errno = savedErrno;
        return Fail(error, what);
    };
    if (!WriteAll(fd, bytes)) {
        return abandon("cannot write '" + temporary + "'");
    }
    if (fchmod(fd, ModeFor(path)) != 0) {
        return abandon("cannot set the permissions of '" + temporary + "'");
    }
    if (fsync(fd) != 0) {
        return abandon("cannot flush '" + temporary + "' to disk");
    }
    if (close(fd) != 0) {
        const int savedErrno = errno;
        unlink(temporary.c_str());
        errno = savedErrno;
        return Fail(error, "cannot close '" + temporary + "'");
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        const int savedErrno = errno;
        unlink(temporary.c_str());
        errno = savedErrno;
        return Fail(error, "cannot replace '" + path + "'");
    }
    const std::string folder = DirectoryOf(path);
    SyncFolder(folder.empty() ? std::string(".") : folder);
    return true;
}

}  // namespace veldmoor
