#include "system/registry.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string_view>
#include <vector>

#include "system/path.h"
#include "system/process_launch.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace veldmoor {
namespace {

struct ToolResult {
    bool started = false;
    int exitCode = -1;
    std::string output;
};

// Runs `wine <arguments...>` with the prefix and quiet diagnostics, collecting standard output.
ToolResult RunWine(const std::string& prefix, const std::vector<std::string>& arguments) {
    ToolResult result;
    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (text.rfind("WINEPREFIX=", 0) != 0 && text.rfind("WINEDEBUG=", 0) != 0) {
            environment.emplace_back(text);
        }
    }
    environment.push_back("WINEPREFIX=" + prefix);
    environment.emplace_back("WINEDEBUG=-all");

    std::vector<std::string> argvStrings = {"wine"};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argvStrings.size() + 1);
    for (std::string& argument : argvStrings) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawnError =
        posix_spawnp(&child, "wine", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawnError != 0) {
        close(pipeEnds[0]);
        return result;
    }
    result.started = true;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got > 0) {
            result.output.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool PrefixExists(const std::string& prefix) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(AppendPathComponent(prefix, "system.reg"), ignored);
}

std::string FirstLine(const std::string& output) {
    std::string line = output.substr(0, output.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Finds "    ExePath    REG_SZ    <value>" in the output of `reg query`.
std::optional<std::string> ParseQueryOutput(const std::string& output) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string_view rest(line);
        while (!rest.empty() && IsBlank(rest.front())) {
            rest.remove_prefix(1);
        }
        const std::string_view name(kExePathValueName);
        if (!StartsWithNoCase(rest, name) || rest.size() == name.size() ||
            !IsBlank(rest[name.size()])) {
            continue;
        }
        rest.remove_prefix(name.size());
        while (!rest.empty() && IsBlank(rest.front())) {
            rest.remove_prefix(1);
        }
        for (const std::string_view type : {"REG_SZ", "REG_EXPAND_SZ"}) {
            if (rest.rfind(type, 0) == 0 &&
                (rest.size() == type.size() || IsBlank(rest[type.size()]))) {
                rest.remove_prefix(type.size());
                while (!rest.empty() && IsBlank(rest.front())) {
                    rest.remove_prefix(1);
                }
                return std::string(rest);
            }
        }
        return std::nullopt;  // ExePath of another type holds no path
    }
    return std::nullopt;
}

}  // namespace

bool RegistryWriteNeedsElevation() {
    return false;
}

std::string WinePrefixFolder() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
        return prefix;
    }
    const char* home = std::getenv("HOME");
    return AppendPathComponent(home != nullptr ? std::string(home) : std::string(), ".wine");
}

std::optional<std::string> ReadExePath() {
    const std::string prefix = WinePrefixFolder();
    if (!PrefixExists(prefix)) {
        return std::nullopt;
    }
    const ToolResult query =
        RunWine(prefix, {"reg", "query", kGameRegistryKey, "/v", kExePathValueName, "/reg:32"});
    if (!query.started || query.exitCode != 0) {
        return std::nullopt;
    }
    const std::optional<std::string> windowsPath = ParseQueryOutput(query.output);
    if (!windowsPath || windowsPath->size() > kExePathMaxLength ||
        windowsPath->find_first_of("\\/") == std::string::npos) {
        return std::nullopt;
    }
    const ToolResult converted = RunWine(prefix, {"winepath", "-u", *windowsPath});
    const std::string localPath = FirstLine(converted.output);
    if (!converted.started || converted.exitCode != 0 || localPath.empty()) {
        return std::nullopt;
    }
    return localPath;
}

Status WriteExePath(const std::string& clientPath) {
    const auto fail = [](std::string why) { return Status::Failed(std::move(why)); };
    if (geteuid() == 0) {
        const std::optional<DesktopUser> user = FindDesktopUser();
        if (!user || user->uid != 0) {
            return fail(
                "The game's registry entry lives in the desktop user's own Wine prefix; run the "
                "launcher without administrator rights to record it.");
        }
    }
    const std::string prefix = WinePrefixFolder();
    if (!PrefixExists(prefix)) {
        return fail("There is no Wine prefix at '" + prefix +
                    "'. Start the game once with Wine (or set WINEPREFIX) and try again.");
    }
    const ToolResult converted = RunWine(prefix, {"winepath", "-w", clientPath});
    if (!converted.started) {
        return fail(
            "Wine is not installed (no 'wine' on PATH); the game's path cannot be "
            "recorded.");
    }
    const std::string windowsPath = FirstLine(converted.output);
    if (converted.exitCode != 0 || windowsPath.empty()) {
        return fail("Wine could not translate '" + clientPath + "' into a Windows path.");
    }
    if (windowsPath.size() > kExePathMaxLength) {
        return fail("The path '" + windowsPath + "' is longer than the game accepts (" +
                    std::to_string(kExePathMaxLength) + " characters).");
    }
    const ToolResult added =
        RunWine(prefix, {"reg", "add", kGameRegistryKey, "/v", kExePathValueName, "/t", "REG_SZ",
                         "/d", windowsPath, "/f", "/reg:32"});
    if (!added.started || added.exitCode != 0) {
        return fail("Wine's 'reg add' failed to record '" + windowsPath + "' under " +
                    kGameRegistryKey + " in the prefix '" + prefix + "'.");
    }
    return {};
}

}  // namespace veldmoor
