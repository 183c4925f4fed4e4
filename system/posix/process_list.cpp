#include "system/process_list.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>

namespace veldmoor {
namespace {

// The kernel marks the image of a process whose program file was replaced or removed.
constexpr std::string_view kDeletedSuffix = " (deleted)";

std::string ReadImagePath(int processId) {
    const std::string link = "/proc/" + std::to_string(processId) + "/exe";
    std::error_code error;
    std::string target = std::filesystem::read_symlink(link, error).string();
    if (error) {
        return {};
    }
    return target;
}

bool ParseProcessId(const char* name, int& processId) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(name, &end, 10);
    if (errno != 0 || end == name || *end != '\0' || value <= 0 || value > INT32_MAX) {
        return false;
    }
    processId = static_cast<int>(value);
    return true;
}

std::string Resolved(const std::string& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path : resolved.string();
}

bool ProcessExists(int processId) {
    return kill(processId, 0) == 0 || errno == EPERM;
}

// Fallback for kernels without process file descriptors: looks at the process now and then.
bool PollForExit(int processId, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (!ProcessExists(processId)) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

int CurrentProcessId() {
    return static_cast<int>(getpid());
}

std::vector<RunningProcess> ListRunningProcesses() {
    std::vector<RunningProcess> processes;
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc) {
        return processes;
    }
    while (const dirent* entry = readdir(proc.get())) {
        RunningProcess process;
        if (!ParseProcessId(entry->d_name, process.id)) {
            continue;
        }
        process.imagePath = ReadImagePath(process.id);
        processes.push_back(std::move(process));
    }
    return processes;
}

bool IsSameProgramFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) {
        return false;
    }
    // A process whose file was replaced still runs the old image; it is the same program file
    // for the purpose of waiting for it.
    auto withoutDeletedMark = [](std::string path) {
        if (path.size() > kDeletedSuffix.size() && path.ends_with(kDeletedSuffix)) {
            path.resize(path.size() - kDeletedSuffix.size());
        }
        return path;
    };
    return Resolved(withoutDeletedMark(a)) == Resolved(withoutDeletedMark(b));
}

bool WaitForProcessExit(int processId, std::chrono::milliseconds timeout) {
    // A process descriptor keeps referring to this process even when its id is reused.
    const auto descriptor = static_cast<int>(syscall(SYS_pidfd_open, processId, 0));
    if (descriptor < 0) {
        if (errno == ESRCH) {
            return true;
        }
        return PollForExit(processId, timeout);
    }
    pollfd waitFor{descriptor, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int ready = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        ready = poll(&waitFor, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR) {
            break;
        }
    }
    close(descriptor);
    return ready > 0;
}

}  // namespace veldmoor
