#include "system/process_list.h"

// windows.h comes first: the other Windows headers build on it.
#include "system/win32/win32_support.h"

#include <tlhelp32.h>

#include <thread>

#include "system/text_encoding.h"

namespace veldmoor {
namespace {

std::string ImagePathOf(DWORD processId) {
    const win32::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process.Valid()) {
        return {};
    }
    std::wstring path(32768, L'\0');
    auto size = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &size) == 0) {
        return {};
    }
    path.resize(size);
    return NarrowText(path);
}

// The long, absolute form of a path, so that a short (8.3) name and a relative one compare
// equal to the name the system reports.
std::wstring Normalised(const std::string& path) {
    const std::wstring wide = win32::SystemPath(path);
    std::wstring full(32768, L'\0');
    DWORD length =
        ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0 || length >= full.size()) {
        return wide;
    }
    full.resize(length);
    std::wstring longer(32768, L'\0');
    length = ::GetLongPathNameW(full.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
    if (length == 0 || length >= longer.size()) {
        return full;
    }
    longer.resize(length);
    return longer;
}

bool IsListed(DWORD processId) {
    for (const RunningProcess& process : ListRunningProcesses()) {
        if (static_cast<DWORD>(process.id) == processId) {
            return true;
        }
    }
    return false;
}

}  // namespace

int CurrentProcessId() {
    return static_cast<int>(::GetCurrentProcessId());
}

std::vector<RunningProcess> ListRunningProcesses() {
    std::vector<RunningProcess> processes;
    const win32::Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) {
        return processes;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more != 0;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == 0) {
            continue;  // the idle process is no program
        }
        processes.push_back(
            {static_cast<int>(entry.th32ProcessID), ImagePathOf(entry.th32ProcessID)});
    }
    return processes;
}

bool IsSameProgramFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    const std::wstring first = Normalised(a);
    const std::wstring second = Normalised(b);
    // File names on Windows compare without regard to case.
    return ::CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                  static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

bool WaitForProcessExit(int processId, std::chrono::milliseconds timeout) {
    const win32::Handle process(::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(processId)));
    if (process.Valid()) {
        const auto milliseconds = static_cast<DWORD>(std::max<long long>(timeout.count(), 0));
        return ::WaitForSingleObject(process.Get(), milliseconds) == WAIT_OBJECT_0;
    }
    if (::GetLastError() == ERROR_INVALID_PARAMETER) {
        return true;  // no such process
    }
    // A process this one may not wait on (another user's) is looked for now and then.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (IsListed(static_cast<DWORD>(processId))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace veldmoor
