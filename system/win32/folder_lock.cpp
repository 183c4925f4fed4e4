#include "system/folder_lock.h"

#include <cstdio>

#include "system/win32/win32_support.h"

namespace veldmoor {
namespace {

// A name for the folder itself, not for one of its spellings: the volume and the file index
// stay the same for a short name, another letter case or a path through a junction.
Result<std::wstring> LockNameOf(const std::string& folder) {
    const win32::Handle handle(
        ::CreateFileW(win32::SystemPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.Valid() || ::GetFileInformationByHandle(handle.Get(), &information) == 0) {
        return Status::Failed(win32::ErrorText(::GetLastError()));
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Status::Failed("it is not a folder");
    }
    wchar_t text[96];
    std::swprintf(
        text, sizeof text / sizeof text[0], L"Global\\veldmoor-folder-lock-%08lx-%08lx%08lx",
        information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow);
    return std::wstring(text);
}

}  // namespace

// Byte-range locks do not take on a folder's handle, and a lock file would add to the folder
// what a web server would serve. The lock is a named kernel object instead: it exists exactly
// while a holder keeps its handle open, and the system closes that handle when the holder ends,
// however it ends.
Result<std::unique_ptr<FolderLock>> FolderLock::TryLock(const std::string& folder) {
    const Result<std::wstring> name = LockNameOf(folder);
    if (!name) {
        return name.Error();
    }
    HANDLE handle = ::CreateMutexW(nullptr, FALSE, name.Value().c_str());
    if (handle == nullptr) {
        return Status::Failed(win32::ErrorText(::GetLastError()));
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(handle);
        return Status::Failed("another program is working on it", Fault::HeldElsewhere);
    }
    return std::unique_ptr<FolderLock>(new FolderLock(reinterpret_cast<std::intptr_t>(handle)));
}

FolderLock::~FolderLock() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));  // the last handle takes the name along
}

}  // namespace veldmoor
