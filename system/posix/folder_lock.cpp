#include "system/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veldmoor {

// The folder itself carries the lock, so nothing is added to it that a web server would serve.
Result<std::unique_ptr<FolderLock>> FolderLock::TryLock(const std::string& folder) {
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        return Status::Failed(std::strerror(errno));
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        ::close(handle);
        return reason == EWOULDBLOCK
                   ? Status::Failed("another program is working on it", Fault::HeldElsewhere)
                   : Status::Failed(std::strerror(reason));
    }
    return std::unique_ptr<FolderLock>(new FolderLock(handle));
}

FolderLock::~FolderLock() {
    ::close(static_cast<int>(handle_));  // closing the only descriptor releases the lock
}

}  // namespace veldmoor
