#include "system/win32/win32_support.h"

#include "system/text_encoding.h"

namespace veldmoor::win32 {
namespace {

// FILETIME counts 100-nanosecond steps since 1601-01-01.
constexpr std::int64_t kStepsPerSecond = 10'000'000;
constexpr std::int64_t kStepsFrom1601To1970 = 116'444'736'000'000'000;

// CreateDirectoryW's limit: the classic MAX_PATH less room for an 8.3 file name.
constexpr std::size_t kClassicPathLimit = MAX_PATH - 12;

bool HasLongPathPrefix(std::wstring_view path) {
    return path.starts_with(L"\\\\?\\");
}

void AppendQuoted(std::wstring& line, const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line.push_back(L'"');
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each stands for itself doubled.
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line.push_back(c);
    }
    line.append(backslashes * 2, L'\\');
    line.push_back(L'"');
}

}  // namespace

std::wstring SystemPath(const std::string& path) {
    std::wstring wide = WidenText(path);
    if (wide.size() < kClassicPathLimit || HasLongPathPrefix(wide)) {
        return wide;
    }
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return wide;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return wide;
    }
    full.resize(length);
    if (full.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

std::string ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text != nullptr ? text : L"", length);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    const std::string code_text = "Windows error " + std::to_string(code);
    return message.empty() ? code_text : NarrowText(message) + " (" + code_text + ")";
}

std::string EnvironmentValue(const wchar_t* name) {
    const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring value(needed, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), needed);
    if (length == 0 || length >= needed) {
        return {};
    }
    value.resize(length);
    return NarrowText(value);
}

std::int64_t SecondsFromFileTime(const FILETIME& time) {
    const auto steps = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) | time.dwLowDateTime);
    const std::int64_t since1970 = steps - kStepsFrom1601To1970;
    std::int64_t seconds = since1970 / kStepsPerSecond;
    if (since1970 % kStepsPerSecond < 0) {
        --seconds;
    }
    return seconds;
}

FILETIME FileTimeFromSeconds(std::int64_t secondsSince1970) {
    const auto steps =
        static_cast<std::uint64_t>(secondsSince1970 * kStepsPerSecond + kStepsFrom1601To1970);
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(steps & 0xFFFFFFFFU);
    time.dwHighDateTime = static_cast<DWORD>(steps >> 32U);
    return time;
}

std::wstring CommandLineOf(const std::string& program, const std::vector<std::string>& arguments) {
    std::wstring line;
    // The program's name is taken up to the next quote with no escapes: it only needs quotes.
    line.push_back(L'"');
    line += WidenText(program);
    line.push_back(L'"');
    for (const std::string& argument : arguments) {
        line.push_back(L' ');
        AppendQuoted(line, WidenText(argument));
    }
    return line;
}

DWORD ShellProcessId() {
    const HWND shell = ::GetShellWindow();
    DWORD processId = 0;
    if (shell != nullptr) {
        ::GetWindowThreadProcessId(shell, &processId);
    }
    return processId;
}

Handle ShellToken(DWORD access) {
    const DWORD shell = ShellProcessId();
    if (shell == 0) {
        return {};
    }
    const Handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shell));
    HANDLE token = nullptr;
    if (!process.Valid() || ::OpenProcessToken(process.Get(), access, &token) == 0) {
        return {};
    }
    return Handle(token);
}

std::vector<unsigned char> TokenUserSid(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) == 0) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    if (::IsValidSid(sid) == 0) {
        return {};
    }
    std::vector<unsigned char> copy(::GetLengthSid(sid));
    ::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid);
    return copy;
}

std::vector<unsigned char> CurrentUserSid() {
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) == 0) {
        return {};
    }
    const Handle owned(token);
    return TokenUserSid(token);
}

void EnablePrivilege(const wchar_t* name) {
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token) ==
        0) {
        return;
    }
    const Handle owned(token);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) != 0) {
        ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
}

}  // namespace veldmoor::win32
