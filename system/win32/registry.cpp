#include "system/registry.h"

#include <string_view>
#include <vector>

#include "system/path.h"
#include "system/text_encoding.h"
#include "system/win32/win32_support.h"

namespace veldmoor {
namespace {

struct KeyName {
    HKEY root = nullptr;
    std::wstring path;
    std::string shown;  // for messages
};

std::optional<KeyName> GameKey() {
    std::string text = win32::EnvironmentValue(L"VELDMOOR_GAME_REGISTRY_KEY");
    if (text.empty()) {
        text = kGameRegistryKey;
    }
    const std::size_t separator = text.find('\\');
    if (separator == std::string::npos) {
        return std::nullopt;
    }
    const std::string_view root = std::string_view(text).substr(0, separator);
    KeyName key;
    if (EqualsNoCase(root, "HKEY_LOCAL_MACHINE") || EqualsNoCase(root, "HKLM")) {
        key.root = HKEY_LOCAL_MACHINE;
    } else if (EqualsNoCase(root, "HKEY_CURRENT_USER") || EqualsNoCase(root, "HKCU")) {
        key.root = HKEY_CURRENT_USER;
    } else {
        return std::nullopt;
    }
    key.path = WidenText(text.substr(separator + 1));
    key.shown = text;
    return key;
}

// The game is a 32-bit program: its view of the machine's software keys is the 32-bit one.
constexpr REGSAM kGameView = KEY_WOW64_32KEY;

}  // namespace

bool RegistryWriteNeedsElevation() {
    return true;
}

std::string WinePrefixFolder() {
    return {};
}

std::optional<std::string> ReadExePath() {
    const std::optional<KeyName> key = GameKey();
    if (!key) {
        return std::nullopt;
    }
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(key->root, key->path.c_str(), 0, KEY_QUERY_VALUE | kGameView, &opened) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::wstring name = WidenText(kExePathValueName);
    // Room for one character more than allowed, so that a longer value shows as too long.
    std::vector<wchar_t> value(kExePathMaxLength + 2);
    auto size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LSTATUS read =
        ::RegGetValueW(opened, nullptr, name.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &size);
    ::RegCloseKey(opened);
    if (read != ERROR_SUCCESS) {
        return std::nullopt;  // missing, another type, or longer than the buffer
    }
    const std::wstring_view text(value.data());
    if (text.size() > kExePathMaxLength || text.find_first_of(L"\\/") == std::wstring_view::npos) {
        return std::nullopt;
    }
    return NarrowText(text);
}

Status WriteExePath(const std::string& clientPath) {
    const auto fail = [](std::string why) { return Status::Failed(std::move(why)); };
    const std::optional<KeyName> key = GameKey();
    if (!key) {
        return fail("The registry key to write the game's path to is malformed.");
    }
    const std::wstring value = WidenText(clientPath);
    if (value.size() > kExePathMaxLength) {
        return fail("The path '" + clientPath + "' is longer than the game accepts (" +
                    std::to_string(kExePathMaxLength) + " characters).");
    }
    HKEY opened = nullptr;
    LSTATUS status =
        ::RegCreateKeyExW(key->root, key->path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | kGameView, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS) {
        return fail("The registry key " + key->shown + " cannot be opened for writing: " +
                    win32::ErrorText(static_cast<DWORD>(status)) +
                    ". Start the launcher with administrator rights and try again.");
    }
    const std::wstring name = WidenText(kExePathValueName);
    status = ::RegSetValueExW(opened, name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(opened);
    if (status != ERROR_SUCCESS) {
        return fail("The value " + std::string(kExePathValueName) + " under " + key->shown +
                    " cannot be written: " + win32::ErrorText(static_cast<DWORD>(status)) + ".");
    }
    return {};
}

}  // namespace veldmoor
