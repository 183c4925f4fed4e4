#include "system/elevation.h"

// windows.h comes first: the other Windows headers build on it.
#include "system/win32/win32_support.h"

#include <shellapi.h>

#include "system/folders.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The name as given when it is a file, else with each extension of PATHEXT in turn.
std::string WithExecutableExtension(const std::string& candidate) {
    if (IsFile(win32::SystemPath(candidate))) {
        return candidate;
    }
    std::string extensions = win32::EnvironmentValue(L"PATHEXT");
    if (extensions.empty()) {
        extensions = ".COM;.EXE;.BAT;.CMD";
    }
    std::size_t start = 0;
    while (start <= extensions.size()) {
        std::size_t end = extensions.find(';', start);
        if (end == std::string::npos) {
            end = extensions.size();
        }
        const std::string extension = extensions.substr(start, end - start);
        if (!extension.empty() && IsFile(win32::SystemPath(candidate + extension))) {
            return candidate + extension;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

bool IsElevated() {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                   DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                   &administrators) == 0) {
        return false;
    }
    BOOL member = FALSE;
    const BOOL checked = ::CheckTokenMembership(nullptr, administrators, &member);
    ::FreeSid(administrators);
    if (checked == 0 || member == FALSE) {
        return false;  // under UAC the membership is deny-only until the token is elevated
    }
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) == 0) {
        return false;
    }
    const win32::Handle owned(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0 &&
           elevation.TokenIsElevated != 0;
}

ProcessHandle::ProcessHandle(int processId, std::intptr_t systemHandle)
    : processId_(processId), systemHandle_(systemHandle) {
    if (systemHandle_ == 0) {
        systemHandle_ = reinterpret_cast<std::intptr_t>(::OpenProcess(
            SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId)));
    }
}

ProcessHandle::~ProcessHandle() {
    if (systemHandle_ != 0) {
        ::CloseHandle(AsHandle(systemHandle_));  // a Windows process leaves nothing to reap
    }
}

bool ProcessHandle::WaitFor(std::chrono::milliseconds timeout) {
    if (reaped_) {
        return true;
    }
    if (systemHandle_ == 0) {
        reaped_ = true;  // it could not be opened: it has ended, its code is unknown
        return true;
    }
    const auto milliseconds = static_cast<DWORD>(std::max<long long>(timeout.count(), 0));
    if (::WaitForSingleObject(AsHandle(systemHandle_), milliseconds) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    if (::GetExitCodeProcess(AsHandle(systemHandle_), &code) != 0) {
        exitCode_ = static_cast<int>(code);
    }
    reaped_ = true;
    return true;
}

std::string FindOnPath(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find_first_of("\\/:") != std::string::npos) {
        return WithExecutableExtension(name);
    }
    const std::string folders = win32::EnvironmentValue(L"PATH");
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(';', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty()) {
            std::string found = WithExecutableExtension(AppendPathComponent(folder, name));
            if (!found.empty()) {
                return found;
            }
        }
        start = end + 1;
    }
    return {};
}

ElevatedStart RunElevated(const std::vector<std::string>& arguments, bool wantHandle) {
    ElevatedStart result;
    const std::string program = ProgramFilePath();
    if (program.empty()) {
        return result;
    }
    const std::wstring file = WidenText(program);
    // The command line without the program's own name: what follows it in a full line.
    const std::wstring line = win32::CommandLineOf(program, arguments);
    const std::wstring parameters = line.substr(std::min(line.size(), file.size() + 3));
    const std::wstring folder = WidenText(CurrentDirectory());

    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof start;
    // No error box of the shell's own: a declined prompt is the caller's to tell.
    start.fMask =
        SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | (wantHandle ? SEE_MASK_NOCLOSEPROCESS : 0);
    start.lpVerb = L"runas";
    start.lpFile = file.c_str();
    start.lpParameters = parameters.c_str();
    start.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    start.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&start) == 0) {
        return result;
    }
    result.started = true;
    if (wantHandle && start.hProcess != nullptr) {
        result.process =
            std::make_unique<ProcessHandle>(static_cast<int>(::GetProcessId(start.hProcess)),
                                            reinterpret_cast<std::intptr_t>(start.hProcess));
    }
    return result;
}

}  // namespace veldmoor
