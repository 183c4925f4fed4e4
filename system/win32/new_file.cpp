#include "system/new_file.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <streambuf>
#include <thread>
#include <vector>

#include "system/new_file_buffer.h"
#include "system/new_file_read_behind.h"
#include "system/text_encoding.h"
#include "system/win32/win32_support.h"

namespace veldmoor {
namespace {

// Windows' code for a used-up disk quota, which mingw-w64's headers lack.
constexpr DWORD kDiskQuotaExceeded = 1295;

Fault FaultOf(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case kDiskQuotaExceeded:
        case ERROR_FILE_TOO_LARGE:
            return Fault::NoSpace;
        case ERROR_DIRECTORY:
            return Fault::IsFolder;
        default:
            return Fault::Other;
    }
}

Status SystemFailure(DWORD error) {
    return Status::Failed(win32::ErrorText(error), FaultOf(error));
}

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFU);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32U);
    return position;
}

// Read and write, shared so that a reader (a virus scanner, say) does not make the creation
// fail; no write sharing, so nobody else changes the bytes about to be moved into place.
constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES;
constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

HANDLE CreateExclusively(const std::wstring& path) {
    // CREATE_NEW never opens what is there, a link included.
    return ::CreateFileW(path.c_str(), kAccess, kSharing, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Status WriteAllAt(std::intptr_t handle, const char* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const DWORD chunk = size > (1U << 30U) ? (1U << 30U) : static_cast<DWORD>(size);
        OVERLAPPED position = At(offset);
        DWORD written = 0;
        if (::WriteFile(AsHandle(handle), data, chunk, &written, &position) == 0) {
            return SystemFailure(::GetLastError());
        }
        data += written;
        size -= written;
        offset += written;
    }
    return {};
}

Status ForceToDrive(std::intptr_t handle) {
    if (::FlushFileBuffers(AsHandle(handle)) == 0) {
        return SystemFailure(::GetLastError());
    }
    return {};
}

void CloseOpenFile(std::intptr_t handle) {
    ::CloseHandle(AsHandle(handle));
}

Result<std::size_t> ReadAt(std::intptr_t handle, char* data, std::size_t size,
                           std::uint64_t offset) {
    OVERLAPPED position = At(offset);
    DWORD got = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1U << 30U));
    if (::ReadFile(AsHandle(handle), data, wanted, &got, &position) == 0) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF) {
            return std::size_t{0};
        }
        return SystemFailure(error);
    }
    return static_cast<std::size_t>(got);
}

std::uint64_t CopyWithinSystem(std::intptr_t /*source*/, std::uint64_t /*sourceOffset*/,
                               std::intptr_t /*target*/, std::uint64_t /*targetOffset*/,
                               std::uint64_t /*length*/) {
    return 0;  // the copy goes through memory
}

std::intptr_t OpenForReading(const std::string& path) {
    // Shared for reading, writing and deleting, as the C library opens a file for reading.
    const HANDLE handle = ::CreateFileW(win32::SystemPath(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<std::intptr_t>(handle);
}

void ReadOnlyFile::DropCachedPages() {
    // The cache manager lets a replaced file's pages go without holding up the move.
}

void StartWritingOut(std::intptr_t /*handle*/) {
    // The cache manager writes a file's pages out behind the writer by itself.
}

std::vector<Status> ForceClosedFilesToDrive(const std::vector<std::string>& paths) {
    // Windows flushes one file a call, and a call waits for its file's writes and the drive's
    // cache. Several calls at once let the drive take their writes together, as a batch.
    constexpr std::size_t kFlushingThreads = 4;
    std::vector<Status> outcomes(paths.size());
    std::atomic<std::size_t> next{0};
    const auto flush = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            // Write access is what FlushFileBuffers asks for; the file is no one else's.
            const win32::Handle file(
                ::CreateFileW(win32::SystemPath(paths[i]).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!file.Valid() || ::FlushFileBuffers(file.Get()) == 0) {
                outcomes[i] = SystemFailure(::GetLastError());
            }
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t t = 1; t < std::min(kFlushingThreads, paths.size()); ++t) {
        helpers.emplace_back(flush);
    }
    flush();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return outcomes;
}

Result<std::uint64_t> SizeOfOpenFile(std::intptr_t handle) {
    LARGE_INTEGER bytes{};
    if (::GetFileSizeEx(AsHandle(handle), &bytes) == 0) {
        return SystemFailure(::GetLastError());
    }
    return static_cast<std::uint64_t>(bytes.QuadPart);
}

NewFile::NewFile(std::string path, std::intptr_t handle)
    : path_(std::move(path)),
      handle_(handle),
      buffer_(std::make_unique<Buffer>(*this, handle)),
      stream_(std::make_unique<std::ostream>(buffer_.get())) {}

Result<std::unique_ptr<NewFile>> NewFile::Create(const std::string& path) {
    const std::wstring name = win32::SystemPath(path);
    HANDLE handle = CreateExclusively(name);
    DWORD reason = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    if (handle == INVALID_HANDLE_VALUE && !folder &&
        (reason == ERROR_FILE_EXISTS || reason == ERROR_ALREADY_EXISTS)) {
        // What an earlier run left is deleted, a link itself rather than what it leads to.
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            ::SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                 ? ::RemoveDirectoryW(name.c_str()) != 0
                                 : ::DeleteFileW(name.c_str()) != 0;
        if (removed) {
            handle = CreateExclusively(name);
            reason = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return folder ? Status::Failed("a folder is in the way", Fault::IsFolder)
                      : SystemFailure(reason);
    }
    return std::unique_ptr<NewFile>(new NewFile(path, reinterpret_cast<std::intptr_t>(handle)));
}

Result<std::unique_ptr<NewFile>> NewFile::CreateBeside(const std::string& target) {
    DWORD reason = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && reason == ERROR_FILE_EXISTS; ++attempt) {
        std::string path = BesideName(target);
        const HANDLE handle = CreateExclusively(win32::SystemPath(path));
        if (handle != INVALID_HANDLE_VALUE) {
            return std::unique_ptr<NewFile>(
                new NewFile(std::move(path), reinterpret_cast<std::intptr_t>(handle)));
        }
        reason = ::GetLastError();
    }
    return Status::Failed(
        "cannot create a file beside '" + target + "': " + win32::ErrorText(reason),
        FaultOf(reason));
}

NewFile::~NewFile() {
    readBehind_.reset();
    stream_.reset();
    buffer_.reset();
    if (AsHandle(handle_) != INVALID_HANDLE_VALUE) {
        ::CloseHandle(AsHandle(handle_));
    }
    if (!moved_) {
        ::DeleteFileW(win32::SystemPath(path_).c_str());
    }
}

Status NewFile::Reserve(std::uint64_t size) {
    buffer_->ExpectSize(size);
    large_ = size >= kReadBehindMinimum;
    // Setting the end claims the clusters on NTFS (the file is not sparse), so a full drive
    // fails here.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFileInformationByHandle(AsHandle(handle_), FileEndOfFileInfo, &end, sizeof end) != 0) {
        return {};
    }
    Note(SystemFailure(::GetLastError()), "cannot make room for");
    return failure_;
}

Status NewFile::SetLastWriteTime(std::int64_t secondsSince1970) {
    // Once set through the handle, the time no longer follows the handle's own writes.
    const FILETIME time = win32::FileTimeFromSeconds(secondsSince1970);
    if (::SetFileTime(AsHandle(handle_), nullptr, nullptr, &time) == 0) {
        const DWORD error = ::GetLastError();
        return Status::Failed("cannot set the time of '" + path_ + "': " + win32::ErrorText(error));
    }
    return {};
}

void NewFile::TakePermissionsOf(const std::string& /*path*/) {
    // A Windows file's rights come from its folder (inherited), and no attribute passes on: a
    // read-only attribute would only stop the next update.
}

void SyncMovesInFolder(const std::string& /*folder*/) {}

Status NewFile::MoveOver(const std::string& target, MoveSync /*sync*/) {
    // The move opens the file by its name; an open handle without write sharing would refuse it.
    if (Status closed = Close(); !closed) {
        return closed;
    }
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (::MoveFileExW(win32::SystemPath(path_).c_str(), win32::SystemPath(target).c_str(),
                      kFlags) == 0) {
        const Status refused = SystemFailure(::GetLastError());
        const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(target).c_str());
        const bool folder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        Note(folder ? Status::Failed(refused.Message(), Fault::IsFolder) : refused,
             "cannot move into place");
        return failure_;
    }
    moved_ = true;
    return {};
}

}  // namespace veldmoor
