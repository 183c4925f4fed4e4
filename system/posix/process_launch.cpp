#include "system/process_launch.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "system/elevation.h"
#include "system/folders.h"
#include "system/path.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX gives no header for it

namespace veldmoor {

static_assert(sizeof(uid_t) == sizeof(std::uint32_t) && sizeof(gid_t) == sizeof(std::uint32_t),
              "DesktopUser holds user and group ids in 32 bits");

namespace {

std::optional<uid_t> UidFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long uid = std::strtoul(value, &end, 10);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return static_cast<uid_t>(uid);
}

std::optional<DesktopUser> LookUpUser(uid_t uid) {
    std::array<char, 16384> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    DesktopUser user;
    user.uid = entry.pw_uid;
    user.gid = entry.pw_gid;
    user.name = entry.pw_name;
    user.home = entry.pw_dir;
    int count = 32;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0)
            count = 0;
    }
    groups.resize(static_cast<std::size_t>(count));
    if (groups.empty())
        groups.push_back(entry.pw_gid);
    user.groups.assign(groups.begin(), groups.end());
    return user;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

constexpr std::array<std::string_view, 5> kVariablesOfElevation = {
    "PKEXEC_UID", "SUDO_UID", "SUDO_GID", "SUDO_USER", "SUDO_COMMAND"};

// The environment for the started program: the launcher's own, speaking for the desktop user.
std::vector<std::string> EnvironmentFor(const DesktopUser* user) {
    std::vector<std::string> result;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view entry = *variable;
        const std::string_view name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const std::string_view elevated : kVariablesOfElevation)
            drop |= name == elevated;
        if (user != nullptr)
            drop |= name == "HOME" || name == "USER" || name == "LOGNAME";
        if (!drop)
            result.emplace_back(entry);
    }
    if (user != nullptr) {
        result.push_back("HOME=" + user->home);
        result.push_back("USER=" + user->name);
        result.push_back("LOGNAME=" + user->name);
    }
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// What the child tells the launcher through the report pipe; nothing at all when the program
// runs.
struct StartReport {
    int error = 0;     // errno of a failed step before the program ran, else 0
    int exitCode = 0;  // how the program ended within its start window (128 + signal)
};

void Report(int reportPipe, const StartReport& report) {
    // Nothing more can be done in the child when the report cannot be written.
    [[maybe_unused]] const ssize_t written = write(reportPipe, &report, sizeof report);
}

[[noreturn]] void FailInChild(int reportPipe) {
    Report(reportPipe, StartReport{errno != 0 ? errno : EINVAL, 0});
    _exit(127);
}

// Wine itself starts even when it cannot run the program (a missing or damaged .exe, a broken
// prefix); it then ends within moments with its failure. How long a Windows program is watched
// for that before it counts as running.
constexpr int kStartWindowMilliseconds = 2000;
constexpr int kStartWindowStepMilliseconds = 20;

// In the intermediate child: waits up to the start window for program to end, and reports an
// ending with a failure. Only calls that are safe in a child of a threaded process.
void WatchStartWindow(pid_t program, int reportPipe) {
    for (int waited = 0; waited < kStartWindowMilliseconds;
         waited += kStartWindowStepMilliseconds) {
        int status = 0;
        const pid_t ended = waitpid(program, &status, WNOHANG);
        if (ended == program) {
            const int code = WIFEXITED(status)     ? WEXITSTATUS(status)
                             : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                                   : 0;
            if (code != 0)
                Report(reportPipe, StartReport{0, code});
            return;
        }
        if (ended < 0 && errno != EINTR)
            return;
        timespec step{0, kStartWindowStepMilliseconds * 1000L * 1000L};
        nanosleep(&step, nullptr);
    }
}

// Starts commandLine[0] (a full path) detached, as user when given; with watchStart, an ending
// with a failure within the start window counts as a failed start. Everything the child needs
// is prepared before fork: after it, only calls that are safe in a child of a threaded process.
bool StartDetachedAs(std::vector<std::string> commandLine, const std::string& workingDirectory,
                     const DesktopUser* user, bool watchStart) {
    std::vector<std::string> environment = EnvironmentFor(user);
    std::vector<gid_t> groups;
    if (user != nullptr)
        groups.assign(user->groups.begin(), user->groups.end());
    std::vector<char*> argv = Pointers(commandLine);
    std::vector<char*> envp = Pointers(environment);
    const char* folder = workingDirectory.empty() ? nullptr : workingDirectory.c_str();

    std::array<int, 2> report{};
    if (pipe2(report.data(), O_CLOEXEC) != 0)
        return false;
    const pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        close(report[0]);
        // A second fork leaves the program without a parent to wait for it: it never becomes a
        // zombie of the launcher.
        const pid_t grandchild = fork();
        if (grandchild < 0)
            FailInChild(report[1]);
        if (grandchild > 0) {
            if (watchStart)
                WatchStartWindow(grandchild, report[1]);
            _exit(0);
        }
        setsid();
        if (user != nullptr) {
            if (setgroups(user->groups.size(), groups.data()) != 0 || setgid(user->gid) != 0 ||
                setuid(user->uid) != 0) {
                FailInChild(report[1]);
            }
        }
        if (folder != nullptr && chdir(folder) != 0)
            FailInChild(report[1]);
        execve(argv[0], argv.data(), envp.data());
        FailInChild(report[1]);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    StartReport failure;
    ssize_t got = 0;
    do {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    // The report pipe closes on a successful start without a word.
    return got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The started program changes into its own folder before it is executed: a path relative to the
// launcher's folder would be looked up again from there and miss.
std::string FromCurrentFolder(const std::string& path) {
    if (path.empty() || path.front() == kPathSeparator)
        return path;
    const std::string current = CurrentDirectory();
    return current.empty() ? path : AppendPathComponent(current, path);
}

bool StartAsDesktopUser(std::vector<std::string> commandLine, const std::string& folder,
                        bool watchStart) {
    std::optional<DesktopUser> user;
    if (geteuid() == 0) {
        user = FindDesktopUser();
        if (!user)
            return false;
        // Root on its own behalf stays root; nobody else's rights are taken.
        if (user->uid == 0)
            user.reset();
    }
    return StartDetachedAs(std::move(commandLine), folder, user ? &*user : nullptr, watchStart);
}

}  // namespace

std::optional<DesktopUser> FindDesktopUser() {
    std::optional<uid_t> uid;
    if (geteuid() == 0) {
        uid = UidFromEnvironment("PKEXEC_UID");
        if (!uid)
            uid = UidFromEnvironment("SUDO_UID");
    }
    return LookUpUser(uid.value_or(getuid()));
}

bool StartDeElevated(const std::string& program, const std::string& workingDirectory) {
    if (program.empty())
        return false;
    std::vector<std::string> commandLine;
    const bool throughWine = EndsWithNoCase(program, ".exe");
    if (throughWine) {
        const std::string wine = FindOnPath("wine");
        if (wine.empty())
            return false;
        commandLine = {FromCurrentFolder(wine), FromCurrentFolder(program)};
    } else {
        const std::string found = FindOnPath(program);
        if (found.empty())
            return false;
        commandLine = {FromCurrentFolder(found)};
    }
    return StartAsDesktopUser(std::move(commandLine), workingDirectory, throughWine);
}

bool OpenWithDesktop(const std::string& target) {
    const std::string opener = FindOnPath("xdg-open");
    if (opener.empty() || target.empty())
        return false;
    return StartAsDesktopUser({opener, target}, "", false);
}

}  // namespace veldmoor
