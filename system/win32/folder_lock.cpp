#include "system/folder_lock.h"

#include <cstdio>

#include "system/win32/win32_support.h"

namespace veldmoor {
namespace {

// A name for the folder itself, not for one of its spellings: the volume and the file index
// stay the same for a short name, another letter case or a path through a junction.
bool LockNameOf(const std::string& folder, std::wstring& name, std::string& error) {
    const win32::Handle handle(
        ::CreateFileW(win32::SystemPath(folder).c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.Valid() || ::GetFileInformationByHandle(handle.Get(), &information) == 0) {
        error = win32::ErrorText(::GetLastError());
        return false;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = "it is not a folder";
        return false;
    }
    wchar_t text[96];
    std::swprintf(
        text, sizeof text / sizeof text[0], L"Global\\veldmoor-folder-lock-%08lx-%08lx%08lx",
        information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow);
    name = text;
    return true;
}

}  // namespace

// Byte-range locks do not take on a folder's handle, and a lock file would add to the folder
// what a web server would serve. The lock is a named kernel object instead: it exists exactly
// while a holder keeps its handle open, and the system closes that handle when the holder ends,
// however it ends.
std::unique_ptr<FolderLock> FolderLock::TryLock(const std::string& folder, Outcome& outcome,
                                                std::string& error) {
    std::wstring name;
    if (!LockNameOf(folder, name, error)) {
        outcome = Outcome::Failed;
        return nullptr;
    }
    HANDLE handle = ::CreateMutexW(nullptr, FALSE, name.c_str());
    if (handle == nullptr) {
        outcome = Outcome::Failed;
        error = win32::ErrorText(::GetLastError());
        return nullptr;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(handle);
        outcome = Outcome::HeldElsewhere;
        error = "another program is working on it";
        return nullptr;
    }
    outcome = Outcome::Locked;
    error.clear();
    return std::unique_ptr<FolderLock>(new FolderLock(reinterpret_cast<std::intptr_t>(handle)));
}

FolderLock::~FolderLock() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));  // the last handle takes the name along
}

}  // namespace veldmoor
