#include "system/file_time.h"

#include "system/win32/win32_support.h"

namespace veldmoor {

std::int64_t LastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(win32::SystemPath(path).c_str(), GetFileExInfoStandard, &data) ==
            0 ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return -1;
    }
    return win32::SecondsFromFileTime(data.ftLastWriteTime);
}

bool SetLastWriteTime(const std::string& path, std::int64_t secondsSince1970) {
    // Without backup semantics a folder does not open: only files get a time here.
    const win32::Handle file(::CreateFileW(win32::SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return false;
    }
    const FILETIME time = win32::FileTimeFromSeconds(secondsSince1970);
    return ::SetFileTime(file.Get(), nullptr, nullptr, &time) != 0;
}

}  // namespace veldmoor
