#include "system/process_launch.h"

// windows.h comes first: the other Windows headers build on it.
#include "system/win32/win32_support.h"

#include <shellapi.h>
#include <userenv.h>

#include <vector>

#include "system/elevation.h"
#include "system/platform.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

std::optional<DesktopUser> UserOfToken(HANDLE token) {
    std::vector<unsigned char> sidBytes = win32::TokenUserSid(token);
    if (sidBytes.empty()) {
        return std::nullopt;
    }
    const PSID sid = sidBytes.data();
    std::vector<wchar_t> name(256);
    std::vector<wchar_t> domain(256);
    auto nameSize = static_cast<DWORD>(name.size());
    auto domainSize = static_cast<DWORD>(domain.size());
    SID_NAME_USE use{};
    if (::LookupAccountSidW(nullptr, sid, name.data(), &nameSize, domain.data(), &domainSize,
                            &use) == 0) {
        return std::nullopt;
    }
    DesktopUser user;
    user.name = NarrowText(std::wstring_view(name.data(), nameSize));
    std::vector<wchar_t> profile(32768);
    auto profileSize = static_cast<DWORD>(profile.size());
    if (::GetUserProfileDirectoryW(token, profile.data(), &profileSize) != 0) {
        user.home = NarrowText(profile.data());
    }
    return user;
}

bool StartDirectly(const std::string& program, const std::string& workingDirectory) {
    const std::wstring application = win32::SystemPath(program);
    std::wstring line = win32::CommandLineOf(program, {});
    const std::wstring folder = WidenText(workingDirectory);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE,
                         CREATE_UNICODE_ENVIRONMENT, nullptr,
                         folder.empty() ? nullptr : folder.c_str(), &startup, &started) == 0) {
        return false;
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

// Starts program with the desktop shell's token: the person's ordinary rights, also when this
// process is elevated.
bool StartWithShellToken(const std::string& program, const std::string& workingDirectory) {
    win32::EnablePrivilege(L"SeIncreaseQuotaPrivilege");
    win32::EnablePrivilege(L"SeDebugPrivilege");
    const win32::Handle shellToken = win32::ShellToken(TOKEN_DUPLICATE | TOKEN_QUERY);
    if (!shellToken.Valid()) {
        return false;
    }
    HANDLE duplicate = nullptr;
    if (::DuplicateTokenEx(shellToken.Get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                           TokenPrimary, &duplicate) == 0) {
        return false;
    }
    const win32::Handle token(duplicate);
    const std::wstring application = win32::SystemPath(program);
    std::wstring line = win32::CommandLineOf(program, {});
    const std::wstring folder = WidenText(workingDirectory);
    const wchar_t* current = folder.empty() ? nullptr : folder.c_str();
    std::wstring desktop = L"winsta0\\default";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION started{};
    if (::CreateProcessAsUserW(token.Get(), application.c_str(), line.data(), nullptr, nullptr,
                               FALSE, CREATE_UNICODE_ENVIRONMENT, nullptr, current, &startup,
                               &started) == 0) {
        // CreateProcessAsUserW needs a right that an elevated administrator usually lacks;
        // CreateProcessWithTokenW needs only the impersonation right such a token holds.
        startup = STARTUPINFOW{};
        startup.cb = sizeof startup;
        if (::CreateProcessWithTokenW(token.Get(), LOGON_WITH_PROFILE, application.c_str(),
                                      line.data(), CREATE_UNICODE_ENVIRONMENT, nullptr, current,
                                      &startup, &started) == 0) {
            return false;
        }
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

}  // namespace

std::optional<DesktopUser> FindDesktopUser() {
    win32::Handle token = win32::ShellToken(TOKEN_QUERY);
    if (!token.Valid()) {
        HANDLE own = nullptr;
        if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &own) == 0) {
            return std::nullopt;
        }
        token.Reset(own);
    }
    return UserOfToken(token.Get());
}

bool StartDeElevated(const std::string& program, const std::string& workingDirectory) {
    if (program.empty()) {
        return false;
    }
    // Without elevation this process already has the person's ordinary rights; under Wine there
    // is no shell whose token could be borrowed (and no elevation to shed).
    if (!IsElevated() || IsWine()) {
        return StartDirectly(program, workingDirectory);
    }
    return StartWithShellToken(program, workingDirectory);
}

bool OpenWithDesktop(const std::string& target) {
    if (target.empty()) {
        return false;
    }
    const std::wstring file = WidenText(target);
    SHELLEXECUTEINFOW open{};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    open.lpVerb = L"open";
    open.lpFile = file.c_str();
    open.nShow = SW_SHOWNORMAL;
    return ::ShellExecuteExW(&open) != 0;
}

}  // namespace veldmoor
