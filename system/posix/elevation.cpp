#include "system/elevation.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "system/folders.h"
#include "system/path.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX gives no header for it

namespace veldmoor {

namespace {

int ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// The variables a window of the elevated launcher needs; pkexec clears the environment.
const char* const kDisplayVariables[] = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY",
                                         "XDG_RUNTIME_DIR"};

}  // namespace

bool IsElevated() {
    return geteuid() == 0;
}

ProcessHandle::ProcessHandle(int processId, std::intptr_t /*systemHandle*/)
    : processId_(processId) {}

ProcessHandle::~ProcessHandle() {
    if (reaped_ || processId_ <= 0)
        return;
    std::thread([id = processId_] {
        int status = 0;
        while (waitpid(id, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

bool ProcessHandle::WaitFor(std::chrono::milliseconds timeout) {
    if (reaped_)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t result = waitpid(processId_, &status, WNOHANG);
        if (result == processId_) {
            reaped_ = true;
            exitCode_ = ExitCodeOf(status);
            return true;
        }
        if (result < 0 && errno != EINTR) {
            // Not our child any more (reaped elsewhere): it has ended, its code is unknown.
            reaped_ = true;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string FindOnPath(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        std::string candidate = AppendPathComponent(folder.empty() ? "." : folder, name);
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

ElevatedStart RunElevated(const std::vector<std::string>& arguments, bool wantHandle) {
    ElevatedStart result;
    const std::string pkexec = FindOnPath("pkexec");
    const std::string env = FindOnPath("env");
    const std::string program = ProgramFilePath();
    const std::string folder = CurrentDirectory();
    if (pkexec.empty() || env.empty() || program.empty())
        return result;

    // pkexec starts in another folder with an empty environment; env restores both.
    std::vector<std::string> line = {pkexec, env};
    if (!folder.empty())
        line.push_back("--chdir=" + folder);
    for (const char* name : kDisplayVariables) {
        if (const char* value = std::getenv(name))
            line.push_back(std::string(name) + "=" + value);
    }
    line.push_back(program);
    line.insert(line.end(), arguments.begin(), arguments.end());

    std::vector<char*> argv;
    argv.reserve(line.size() + 1);
    for (std::string& part : line)
        argv.push_back(part.data());
    argv.push_back(nullptr);

    pid_t id = 0;
    if (posix_spawn(&id, pkexec.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return result;
    }
    result.started = true;
    auto process = std::make_unique<ProcessHandle>(id);
    if (wantHandle)
        result.process = std::move(process);
    return result;
}

}  // namespace veldmoor
