#include "system/folder_rights.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string_view>

#include "system/path.h"
#include "system/process_launch.h"
#include "system/product.h"

namespace veldmoor {

namespace {

constexpr mode_t kFolderMode = 0775;
constexpr mode_t kFileMode = 0664;
constexpr mode_t kExecuteBits = 0111;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

using DirectoryStream = std::unique_ptr<DIR, int (*)(DIR*)>;

DirectoryStream OpenStream(int folderFd) {
    const int copy = dup(folderFd);
    if (copy < 0)
        return {nullptr, closedir};
    DIR* stream = fdopendir(copy);
    if (stream == nullptr) {
        close(copy);
        return {nullptr, closedir};
    }
    // A duplicate shares the read position with the original: start from the first entry.
    rewinddir(stream);
    return {stream, closedir};
}

bool IsDotEntry(std::string_view name) {
    return name == "." || name == "..";
}

bool IsAcceptablePath(std::string_view folder) {
    if (folder.empty() || folder.front() != '/')
        return false;
    bool hasName = false;
    std::size_t start = 0;
    while (start < folder.size()) {
        std::size_t end = folder.find('/', start);
        if (end == std::string_view::npos)
            end = folder.size();
        const std::string_view part = folder.substr(start, end - start);
        if (IsDotEntry(part))
            return false;
        hasName |= !part.empty();
        start = end + 1;
    }
    return hasName;  // "/" and "//" name the root
}

// Empty, or holding the game client: the only folders whose rights may be rewritten.
bool LooksLikeGameFolder(int folderFd) {
    const DirectoryStream stream = OpenStream(folderFd);
    if (!stream)
        return false;
    bool empty = true;
    while (const dirent* entry = readdir(stream.get())) {
        const std::string_view name = entry->d_name;
        if (IsDotEntry(name))
            continue;
        if (EqualsNoCase(name, kGameClientFileName))
            return true;
        empty = false;
    }
    return empty;
}

bool ApplyToOpenEntry(int fd, const struct stat& info, const DesktopUser& user) {
    const mode_t mode =
        S_ISDIR(info.st_mode) ? kFolderMode : (kFileMode | (info.st_mode & kExecuteBits));
    return fchown(fd, user.uid, user.gid) == 0 && fchmod(fd, mode) == 0;
}

bool ApplyToTree(int folderFd, const DesktopUser& user) {
    const DirectoryStream stream = OpenStream(folderFd);
    if (!stream)
        return false;
    while (const dirent* entry = readdir(stream.get())) {
        const char* name = entry->d_name;
        if (IsDotEntry(name))
            continue;
        struct stat info {};
        if (fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISLNK(info.st_mode)) {
            // The link itself changes hands; whatever it points to is left alone.
            if (fchownat(folderFd, name, user.uid, user.gid, AT_SYMLINK_NOFOLLOW) != 0) {
                return false;
            }
            continue;
        }
        if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
            // Pipes, sockets, devices: opening them could block or act; ownership is enough.
            if (fchownat(folderFd, name, user.uid, user.gid, AT_SYMLINK_NOFOLLOW) != 0) {
                return false;
            }
            continue;
        }
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK |
                          (S_ISDIR(info.st_mode) ? O_DIRECTORY : 0);
        const FileDescriptor child(openat(folderFd, name, flags));
        if (!child.valid())
            return false;
        struct stat opened {};
        // The entry may have been swapped since it was examined; act only on what was examined.
        if (fstat(child.get(), &opened) != 0 || opened.st_ino != info.st_ino ||
            opened.st_dev != info.st_dev) {
            return false;
        }
        // A file with more than one name may have a name outside the folder; it is one file, so
        // the owner and mode given here would reach outside. Such a file is left as it is.
        if (S_ISREG(opened.st_mode) && opened.st_nlink > 1)
            continue;
        if (!ApplyToOpenEntry(child.get(), opened, user))
            return false;
        if (S_ISDIR(opened.st_mode) && !ApplyToTree(child.get(), user))
            return false;
    }
    return true;
}

}  // namespace

bool HasFolderAccess(const std::string& folder, int desired) {
    int mode = 0;
    if ((desired & kFolderRead) != 0)
        mode |= R_OK;
    if ((desired & kFolderWrite) != 0)
        mode |= W_OK;
    if ((desired & kFolderExecute) != 0)
        mode |= X_OK;
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    return faccessat(AT_FDCWD, folder.c_str(), mode == 0 ? F_OK : mode, AT_EACCESS) == 0;
}

bool ResetFolderRights(const std::string& folder) {
    if (!IsAcceptablePath(folder))
        return false;
    const std::optional<DesktopUser> user = FindDesktopUser();
    if (!user)
        return false;

    const FileDescriptor top(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!top.valid())
        return false;  // missing, not a folder, or a symbolic link
    struct stat info {};
    if (fstat(top.get(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if (!LooksLikeGameFolder(top.get()))
        return false;

    return ApplyToOpenEntry(top.get(), info, *user) && ApplyToTree(top.get(), *user);
}

}  // namespace veldmoor
