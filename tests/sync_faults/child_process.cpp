#include "tests/sync_faults/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace veldmoor::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& outputPath,
                           std::optional<unsigned long long> fileSizeLimit) {
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (output < 0) {
        throw std::runtime_error("cannot create " + outputPath);
    }
    // Between fork and exec only async-signal-safe calls: the parent has threads.
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        const int input = ::open("/dev/null", O_RDONLY);
        ::dup2(input, STDIN_FILENO);
        if (fileSizeLimit) {
            const struct rlimit limit {
                static_cast<rlim_t>(*fileSizeLimit), static_cast<rlim_t>(*fileSizeLimit)
            };
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(program.c_str(), argv.data(), environ);
        ::_exit(127);
    }
    ::close(output);
    if (pid_ < 0) {
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess() {
    if (!ended_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

void ChildProcess::Signal(int number) const {
    if (!ended_) {
        ::kill(pid_, number);
    }
}

bool ChildProcess::Running() {
    if (ended_) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) {
        return true;
    }
    ended_ = true;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    termSignal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return false;
}

bool ChildProcess::Wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace veldmoor::test
