#include "system/detached_process.h"

#include "system/text_encoding.h"
#include "system/win32/win32_support.h"

namespace veldmoor {

bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& workingDirectory) {
    const std::wstring application = win32::SystemPath(program);
    std::wstring line = win32::CommandLineOf(program, arguments);
    const std::wstring folder = WidenText(workingDirectory);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // A process of its own group without the starter's console: a Ctrl+C meant for the starter
    // does not reach it, and it keeps running when the starter ends.
    if (::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE,
                         CREATE_NEW_PROCESS_GROUP | DETACHED_PROCESS | CREATE_UNICODE_ENVIRONMENT,
                         nullptr, folder.empty() ? nullptr : folder.c_str(), &startup,
                         &started) == 0) {
        return false;
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

}  // namespace veldmoor
