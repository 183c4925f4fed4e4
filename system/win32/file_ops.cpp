#include "system/file_ops.h"

#include "system/win32/win32_support.h"

namespace veldmoor {
namespace {

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return ::GetFileAttributesExW(win32::SystemPath(path).c_str(), GetFileExInfoStandard, &data) !=
           0;
}

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesW(win32::SystemPath(path).c_str());
}

}  // namespace

std::int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32U) |
                                     data.nFileSizeLow);
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const std::string& path) {
    if (::CreateDirectoryW(win32::SystemPath(path).c_str(), nullptr) != 0) {
        return true;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

bool PathExists(const std::string& path) {
    return AttributesOf(path) != kNoAttributes;
}

PathKind KindOf(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == kNoAttributes) {
        return PathKind::Missing;
    }
    // Symbolic links and junctions alike lead elsewhere.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return PathKind::Link;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return PathKind::Folder;
    }
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::Other : PathKind::File;
}

bool SetLastWriteTimeOfEntry(const std::string& path, std::int64_t secondsSince1970) {
    const win32::Handle entry(::CreateFileW(
        win32::SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry.Valid()) {
        return false;
    }
    const FILETIME time = win32::FileTimeFromSeconds(secondsSince1970);
    return ::SetFileTime(entry.Get(), nullptr, nullptr, &time) != 0;
}

std::int64_t FreeSpaceAt(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (::GetDiskFreeSpaceExW(win32::SystemPath(folder).c_str(), &available, nullptr, nullptr) ==
        0) {
        return -1;
    }
    return static_cast<std::int64_t>(available.QuadPart);
}

bool RemoveFile(const std::string& path) {
    const std::wstring name = win32::SystemPath(path);
    if (::DeleteFileW(name.c_str()) != 0) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    // A read-only file (one copied from a disc, say) is deleted all the same: the caller owns it.
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    return error == ERROR_ACCESS_DENIED && attributes != kNoAttributes &&
           (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           ::SetFileAttributesW(name.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0 &&
           ::DeleteFileW(name.c_str()) != 0;
}

}  // namespace veldmoor
