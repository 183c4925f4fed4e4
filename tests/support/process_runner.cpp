#include "tests/support/process_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace veldmoor::test {

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::seconds timeout) {
    ProgramResult result;
    const TempDir scratch("veldmoor-run");
    const std::string outputPath = scratch / "output";

    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argvStrings.size() + 1);
    for (auto& s : argvStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.output = "cannot start " + program;
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.output = "timed out: ";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    result.output += ReadTestFile(outputPath);
    return result;
}

std::string PublishProgram() {
    return VELDMOOR_PUBLISH_PROGRAM;
}
std::string SyncProgram() {
    return VELDMOOR_SYNC_PROGRAM;
}
std::string ServeProgram() {
    return VELDMOOR_SERVE_PROGRAM;
}
std::string SourceFolder() {
    return VELDMOOR_SOURCE_FOLDER;
}

ProgramResult Publish(const std::string& sourceDir, const std::string& repoDir,
                      const std::vector<std::string>& options) {
    std::vector<std::string> arguments = options;
    arguments.push_back(sourceDir);
    arguments.push_back(repoDir);
    ProgramResult result = RunProgram(PublishProgram(), arguments);
    EXPECT_EQ(result.exitCode, 0) << "veldmoor-publish failed:\n" << result.output;
    return result;
}

}  // namespace veldmoor::test
