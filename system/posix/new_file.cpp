#include "system/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <streambuf>
#include <thread>
#include <vector>

#include "system/new_file_buffer.h"
#include "system/new_file_read_behind.h"
#include "system/path.h"

namespace veldmoor {
namespace {

Fault FaultOf(int errorNumber) {
    switch (errorNumber) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:  // a file-size limit, or a file system that cannot hold a file this large
            return Fault::NoSpace;
        case EISDIR:
            return Fault::IsFolder;
        default:
            return Fault::Other;
    }
}

Status SystemFailure(int errorNumber) {
    return Status::Failed(std::strerror(errorNumber), FaultOf(errorNumber));
}

// True for the file systems whose syncfs writes out and commits every file (the local ones that
// implement it); a FUSE file system, for one, may leave its daemon's own buffers unflushed.
bool SyncsWholeFileSystem(int handle) {
    constexpr std::array<std::int64_t, 5> kTrusted = {
        0xEF53,      // ext2, ext3, ext4
        0x58465342,  // XFS
        0x9123683E,  // Btrfs
        0xF2F52010,  // F2FS
        0x01021994,  // tmpfs
    };
    struct statfs info {};
    return ::fstatfs(handle, &info) == 0 &&
           std::find(kTrusted.begin(), kTrusted.end(), static_cast<std::int64_t>(info.f_type)) !=
               kTrusted.end();
}

// Forces the file at `path` to the drive on its own; 0, or why not.
int ForceFileAt(const std::string& path) {
    const int handle = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) {
        return errno;
    }
    const int error = ::fsync(handle) == 0 ? 0 : errno;
    ::close(handle);
    return error;
}

// Makes a rename in folder durable; a failure here cannot undo the rename that happened.
void SyncFolder(const std::string& folder) {
    const int handle =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle >= 0) {
        ::fsync(handle);
        ::close(handle);
    }
}

// Starts the writing out of files from a thread of its own: sync_file_range waits whenever the
// drive's queue is full, and that wait would hold up the very writer it is meant to get ahead
// of. Each request carries a duplicate of the file's descriptor, so the file may be closed or
// removed at any time; requests beyond a few are dropped, as the drive is behind already and
// the flush before the move does the rest. The thread lives as long as the process: nothing
// it leaves undone at the exit matters, and no caller can outlive it.
class WriteOutStarter {
public:
    static WriteOutStarter& Instance() {
        static WriteOutStarter* const starter = new WriteOutStarter();
        return *starter;
    }

    WriteOutStarter(const WriteOutStarter&) = delete;
    WriteOutStarter& operator=(const WriteOutStarter&) = delete;

    void Start(int handle) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (queued_.size() >= kMostQueued) {
            return;
        }
        const int copy = ::fcntl(handle, F_DUPFD_CLOEXEC, 0);
        if (copy >= 0) {
            queued_.push_back(copy);
            wake_.notify_one();
        }
    }

private:
    static constexpr std::size_t kMostQueued = 4;

    WriteOutStarter() {
        std::thread([this] { Run(); }).detach();
    }
    ~WriteOutStarter() = default;

    [[noreturn]] void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !queued_.empty(); });
            const int handle = queued_.front();
            queued_.pop_front();
            lock.unlock();
            // A failure only leaves the work to the flush.
            ::sync_file_range(handle, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(handle);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<int> queued_;
};

}  // namespace

Status WriteAllAt(std::intptr_t handle, const char* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t written =
            ::pwrite(static_cast<int>(handle), data, size, static_cast<off_t>(offset));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SystemFailure(errno);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
    return {};
}

Status ForceToDrive(std::intptr_t handle) {
    if (::fsync(static_cast<int>(handle)) != 0) {
        return SystemFailure(errno);
    }
    return {};
}

void CloseOpenFile(std::intptr_t handle) {
    ::close(static_cast<int>(handle));
}

Result<std::size_t> ReadAt(std::intptr_t handle, char* data, std::size_t size,
                           std::uint64_t offset) {
    for (;;) {
        const ssize_t got =
            ::pread(static_cast<int>(handle), data, size, static_cast<off_t>(offset));
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return SystemFailure(errno);
        }
    }
}

std::uint64_t CopyWithinSystem(std::intptr_t source, std::uint64_t sourceOffset,
                               std::intptr_t target, std::uint64_t targetOffset,
                               std::uint64_t length) {
    auto from = static_cast<off64_t>(sourceOffset);
    auto to = static_cast<off64_t>(targetOffset);
    std::uint64_t copied = 0;
    while (copied < length) {
        const ssize_t step =
            ::copy_file_range(static_cast<int>(source), &from, static_cast<int>(target), &to,
                              static_cast<std::size_t>(length - copied), 0);
        if (step > 0) {
            copied += static_cast<std::uint64_t>(step);
        } else if (step < 0 && errno == EINTR) {
            continue;
        } else {
            // The end of the source, or a refusal (another file system, an old kernel, a full
            // drive): the copy through memory goes on from here and tells which.
            break;
        }
    }
    return copied;
}

std::intptr_t OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void ReadOnlyFile::DropCachedPages() {
    // On a thread of its own with a descriptor of its own: dropping the pages of a large file
    // takes a while, and the file may be closed meanwhile. Left to the rename that replaces the
    // file, the same work would hold up the move.
    const int copy = ::fcntl(static_cast<int>(handle_), F_DUPFD_CLOEXEC, 0);
    if (copy >= 0) {
        std::thread([copy] {
            ::posix_fadvise(copy, 0, 0, POSIX_FADV_DONTNEED);
            ::close(copy);
        }).detach();
    }
}

void StartWritingOut(std::intptr_t handle) {
    WriteOutStarter::Instance().Start(static_cast<int>(handle));
}

std::vector<Status> ForceClosedFilesToDrive(const std::vector<std::string>& paths) {
    std::vector<int> errors(paths.size(), 0);
    // One syncfs per file system costs the drive one journal commit and one cache flush for the
    // whole batch, where a flush a file costs one each. The file system's error state is sampled
    // when the descriptor is opened and holds what no one has been told yet, so a write that
    // failed before this still shows.
    std::map<dev_t, std::vector<std::size_t>> byDevice;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        struct stat info {};
        if (::lstat(paths[i].c_str(), &info) != 0) {
            errors[i] = errno;
        } else {
            byDevice[info.st_dev].push_back(i);
        }
    }
    for (const auto& [device, files] : byDevice) {
        const int handle = ::open(paths[files.front()].c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (handle < 0) {
            errors[files.front()] = errno;
        } else if (files.size() > 1 && SyncsWholeFileSystem(handle)) {
            const int error = ::syncfs(handle) == 0 ? 0 : errno;
            for (const std::size_t i : files) {
                errors[i] = error;
            }
            ::close(handle);
            continue;
        }
        // One file alone, or a file system whose syncfs may not reach the drive: each file's
        // own flush, which also leaves other programs' writes alone.
        if (handle >= 0) {
            ::close(handle);
        }
        for (const std::size_t i : files) {
            if (errors[i] == 0) {
                errors[i] = ForceFileAt(paths[i]);
            }
        }
    }
    std::vector<Status> outcomes(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (errors[i] != 0) {
            outcomes[i] = SystemFailure(errors[i]);
        }
    }
    return outcomes;
}

Result<std::uint64_t> SizeOfOpenFile(std::intptr_t handle) {
    struct stat info {};
    if (::fstat(static_cast<int>(handle), &info) != 0) {
        return SystemFailure(errno);
    }
    return static_cast<std::uint64_t>(info.st_size);
}

NewFile::NewFile(std::string path, std::intptr_t handle)
    : path_(std::move(path)),
      handle_(handle),
      buffer_(std::make_unique<Buffer>(*this, handle)),
      stream_(std::make_unique<std::ostream>(buffer_.get())) {}

Result<std::unique_ptr<NewFile>> NewFile::Create(const std::string& path) {
    // O_EXCL never opens an existing file nor follows a link at the name; what an earlier run
    // left there is deleted (unlink removes a link itself) and the creation tried once more.
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int handle = ::open(path.c_str(), kFlags, 0666);
    if (handle < 0 && errno == EEXIST && ::unlink(path.c_str()) == 0) {
        handle = ::open(path.c_str(), kFlags, 0666);
    }
    if (handle < 0) {
        const int reason = errno;
        struct stat info {};
        const bool folder = ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        return folder ? Status::Failed("a folder is in the way", Fault::IsFolder)
                      : SystemFailure(reason);
    }
    return std::unique_ptr<NewFile>(new NewFile(path, handle));
}

Result<std::unique_ptr<NewFile>> NewFile::CreateBeside(const std::string& target) {
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int reason = EEXIST;
    for (int attempt = 0; attempt < 100 && reason == EEXIST; ++attempt) {
        std::string path = BesideName(target);
        const int handle = ::open(path.c_str(), kFlags, 0666);
        if (handle >= 0) {
            return std::unique_ptr<NewFile>(new NewFile(std::move(path), handle));
        }
        reason = errno;
    }
    return Status::Failed("cannot create a file beside '" + target + "': " + std::strerror(reason),
                          FaultOf(reason));
}

NewFile::~NewFile() {
    readBehind_.reset();
    stream_.reset();
    buffer_.reset();
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
    if (!moved_) {
        ::unlink(path_.c_str());
    }
}

Status NewFile::Reserve(std::uint64_t size) {
    buffer_->ExpectSize(size);
    large_ = size >= kReadBehindMinimum;
    const int result = ::posix_fallocate(static_cast<int>(handle_), 0, static_cast<off_t>(size));
    if (result == 0) {
        return {};
    }
    if (result == EOPNOTSUPP || result == EINVAL) {
        // No way to claim the room ahead: the length alone, the writes will tell.
        if (::ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0) {
            return {};
        }
        Note(SystemFailure(errno), "cannot set the length of");
        return failure_;
    }
    Note(SystemFailure(result), "cannot make room for");
    return failure_;
}

Status NewFile::SetLastWriteTime(std::int64_t secondsSince1970) {
    const std::string what = "cannot set the time of '" + path_ + "'";
    if (handle_ < 0) {
        return Status::Failed(what + ": it is closed");
    }
    struct timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(secondsSince1970);
    if (::futimens(static_cast<int>(handle_), times) != 0) {
        return Status::Failed(what + ": " + std::strerror(errno));
    }
    return {};
}

void NewFile::TakePermissionsOf(const std::string& path) {
    // The new file was made with the defaults; the one it replaces keeps its bits, above all
    // the execute bits of a program such as the launcher itself. A failure changes nothing else.
    struct stat replaced {};
    if (handle_ >= 0 && ::lstat(path.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        ::fchmod(static_cast<int>(handle_), replaced.st_mode & 07777);
    }
}

void SyncMovesInFolder(const std::string& folder) {
    SyncFolder(folder);
}

Status NewFile::MoveOver(const std::string& target, MoveSync sync) {
    if (Status closed = Close(); !closed) {
        return closed;
    }
    if (std::rename(path_.c_str(), target.c_str()) != 0) {
        Note(SystemFailure(errno), "cannot move into place");
        return failure_;
    }
    moved_ = true;
    if (sync == MoveSync::Now) {
        SyncFolder(DirectoryOf(target));
    }
    return {};
}

}  // namespace veldmoor
