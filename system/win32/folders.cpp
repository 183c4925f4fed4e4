#include "system/folders.h"

// windows.h comes first: the other Windows headers build on it.
#include "system/win32/win32_support.h"

#include <shlobj.h>

#include <vector>

#include "system/path.h"
#include "system/product.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

std::string WithoutTrailingSeparators(std::string path) {
    // "C:\" keeps its separator: without it the text names the drive's current folder.
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    return path;
}

std::string KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    std::string result;
    if (::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK) {
        result = NarrowText(path);
    }
    ::CoTaskMemFree(path);
    return WithoutTrailingSeparators(result);
}

std::string UserName() {
    std::vector<wchar_t> name(257);
    auto size = static_cast<DWORD>(name.size());
    if (::GetUserNameW(name.data(), &size) == 0 || size == 0) {
        return "user";
    }
    return NarrowText(std::wstring_view(name.data(), size - 1));
}

}  // namespace

std::string TemporaryDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) {
            return "C:\\Windows\\Temp\\";
        }
        if (length < buffer.size()) {
            std::string folder = NarrowText(std::wstring_view(buffer.data(), length));
            if (folder.back() != '\\') {
                folder.push_back('\\');
            }
            return folder;
        }
        buffer.resize(length + 1);
    }
}

std::string UserTemporaryFolder(const std::string& prefix) {
    return AppendPathComponent(TemporaryDirectory(), prefix + "-" + UserName());
}

std::string CurrentDirectory() {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) {
        return {};
    }
    std::wstring folder(needed, L'\0');
    const DWORD length = ::GetCurrentDirectoryW(needed, folder.data());
    if (length == 0 || length >= needed) {
        return {};
    }
    folder.resize(length);
    return NarrowText(folder);
}

bool ChangeCurrentFolder(const std::string& folder) {
    return !folder.empty() && ::SetCurrentDirectoryW(WidenText(folder).c_str()) != 0;
}

std::string DocumentsFolder() {
    const std::string overridden = win32::EnvironmentValue(L"VELDMOOR_DOCUMENTS_DIR");
    if (!overridden.empty()) {
        return WithoutTrailingSeparators(overridden);
    }
    return KnownFolder(FOLDERID_Documents);
}

std::string DocumentsFolderOfHome(const std::string& home) {
    if (home.empty()) {
        return {};
    }
    return AppendPathComponent(WithoutTrailingSeparators(home), "Documents");
}

std::string DesktopUserDocumentsFolder() {
    // The account the process runs as: an elevated launcher is the same person's, with more rights.
    return DocumentsFolder();
}

std::string UserDataFolder() {
    const std::string local = KnownFolder(FOLDERID_LocalAppData);
    return local.empty() ? std::string() : AppendPathComponent(local, kProductName);
}

std::string SuggestedGamesFolder() {
    const std::string home = KnownFolder(FOLDERID_Profile);
    if (home.empty()) {
        return {};
    }
    const std::string games = AppendPathComponent(home, "Games");
    const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(games).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? games
               : home;
}

std::string ProgramFilePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return NarrowText(std::wstring_view(buffer.data(), length));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string LauncherFolder() {
    return DirectoryOf(ProgramFilePath());
}

}  // namespace veldmoor
