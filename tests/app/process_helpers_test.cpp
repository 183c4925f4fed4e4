// The system pieces start-up builds on: the process list with its exit waits, the private folder
// for the temporary copy, the detached start, the knock on a running window, text conversion.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "system/detached_process.h"
#include "system/private_directory.h"
#include "system/process_list.h"
#include "system/single_instance.h"
#include "system/text_encoding.h"
#include "tests/app/test_folders.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace veldmoor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ReadFile;
using testing::TestFolder;
using testing::WriteFile;

// A child process of the test, ended and reaped at the end of the test.
class Child {
public:
    explicit Child(const std::vector<std::string>& command) {
        std::vector<char*> argv;
        for (const std::string& part : command) {
            argv.push_back(const_cast<char*>(part.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawn(&id_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            ADD_FAILURE() << "cannot start " << command[0];
            id_ = 0;
        }
    }
    ~Child() { End(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int id() const { return id_; }
    void End() {
        if (id_ > 0) {
            kill(id_, SIGKILL);
            waitpid(id_, nullptr, 0);
            id_ = 0;
        }
    }

private:
    pid_t id_ = 0;
};

const RunningProcess* FindProcess(const std::vector<RunningProcess>& processes, int id) {
    for (const RunningProcess& process : processes) {
        if (process.id == id) {
            return &process;
        }
    }
    return nullptr;
}

TEST(ProcessList, ListsARunningProcessWithItsProgramFile) {
    TestFolder folder;
    const fs::path program = folder.path() / "Sleeper";
    fs::copy_file("/bin/sleep", program);
    Child child({program.string(), "30"});

    const std::vector<RunningProcess> processes = ListRunningProcesses();
    const RunningProcess* found = FindProcess(processes, child.id());
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(IsSameProgramFile(found->imagePath, program.string())) << found->imagePath;
    EXPECT_FALSE(IsSameProgramFile(found->imagePath, "/bin/sleep"));
    EXPECT_NE(FindProcess(processes, getpid()), nullptr);
}

TEST(ProcessList, SameProgramFileSeesThroughLinksAndAReplacedFile) {
    TestFolder folder;
    const fs::path real = folder.Make("real");
    fs::create_directory_symlink(real, folder.path() / "link");
    WriteFile(real / "Launcher", "x");
    EXPECT_TRUE(IsSameProgramFile((folder.path() / "link" / "Launcher").string(),
                                  (real / "Launcher").string()));
    // The kernel's name for the image of a process whose file was replaced.
    EXPECT_TRUE(IsSameProgramFile((real / "Launcher").string() + " (deleted)",
                                  (real / "Launcher").string()));
    EXPECT_FALSE(IsSameProgramFile("", ""));
    EXPECT_FALSE(IsSameProgramFile((real / "Launcher").string(), (real / "launcher").string()));
}

TEST(ProcessList, WaitForExitTimesOutWhileTheProcessRunsAndReturnsOnceItEnded) {
    Child child({"/bin/sleep", "30"});
    EXPECT_FALSE(WaitForProcessExit(child.id(), 100ms));
    const int id = child.id();
    std::thread ender([&child] {
        std::this_thread::sleep_for(200ms);
        kill(child.id(), SIGTERM);
    });
    EXPECT_TRUE(WaitForProcessExit(id, 20s));
    ender.join();
    child.End();
    // A process that is gone needs no waiting.
    EXPECT_TRUE(WaitForProcessExit(id, 0ms));
}

TEST(PrivateDirectory, CreatesAFolderOnlyItsUserMayChange) {
    TestFolder folder;
    const fs::path created = folder.path() / "VeldmoorLauncher";
    ASSERT_TRUE(EnsurePrivateDirectory(created.string()));
    struct stat status {};
    ASSERT_EQ(stat(created.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & (S_IWGRP | S_IWOTH), 0U);
    // An existing one is fine, and loses write access for others.
    chmod(created.c_str(), 0777);
    ASSERT_TRUE(EnsurePrivateDirectory(created.string()));
    ASSERT_EQ(stat(created.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777U, 0755U);
}

TEST(PrivateDirectory, RefusesAPlainFileALinkAndAMissingParent) {
    TestFolder folder;
    WriteFile(folder.path() / "file", "not a folder");
    EXPECT_FALSE(EnsurePrivateDirectory((folder.path() / "file").string()));
    const fs::path target = folder.Make("elsewhere");
    fs::create_directory_symlink(target, folder.path() / "link");
    EXPECT_FALSE(EnsurePrivateDirectory((folder.path() / "link").string()));
    EXPECT_FALSE(EnsurePrivateDirectory((folder.path() / "missing" / "sub").string()));
    EXPECT_FALSE(EnsurePrivateDirectory(""));
}

bool WaitForFile(const fs::path& path, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

TEST(DetachedProcess, StartsWithExactlyTheArgumentsInTheWorkingDirectory) {
    TestFolder folder;
    const fs::path work = folder.Make("work dir");
    const fs::path out = folder.path() / "out";
    const std::string script = "printf '%s|' \"$(pwd)\" \"$@\" > '" + out.string() +
                               ".part' && mv '" + out.string() + ".part' '" + out.string() + "'";
    ASSERT_TRUE(StartDetachedProcess("/bin/sh", {"-c", script, "sh", "a b", "", "-x", "\"q\""},
                                     work.string()));
    ASSERT_TRUE(WaitForFile(out, 20s));
    EXPECT_EQ(ReadFile(out), work.string() + "|a b||-x|\"q\"|");
}

TEST(DetachedProcess, ReportsAProgramThatCannotStart) {
    TestFolder folder;
    EXPECT_FALSE(StartDetachedProcess((folder.path() / "missing").string(), {}, ""));
    WriteFile(folder.path() / "not-executable", "#!/bin/sh\n");
    // No execute permission at all stops the superuser as well.
    EXPECT_FALSE(StartDetachedProcess((folder.path() / "not-executable").string(), {}, ""));
    EXPECT_FALSE(StartDetachedProcess("/bin/true", {}, (folder.path() / "gone").string()));
}

TEST(RunningDialog, ASecondStartKnocksAndTheListenerHearsIt) {
    TestFolder folder;
    const std::string scope = (folder.path() / "VeldmoorLauncher").string();
    EXPECT_FALSE(KnockOnRunningDialog(scope));
    {
        const auto listener = RunningDialogListener::Listen(scope);
        ASSERT_NE(listener, nullptr);
        EXPECT_FALSE(listener->WaitForKnock(0ms));
        // Only one window listens per scope; other scopes are other temporary folders.
        EXPECT_EQ(RunningDialogListener::Listen(scope), nullptr);
        EXPECT_FALSE(KnockOnRunningDialog(scope + "2"));

        EXPECT_TRUE(KnockOnRunningDialog(scope));
        EXPECT_TRUE(listener->WaitForKnock(5s));
        EXPECT_FALSE(listener->WaitForKnock(0ms));
    }
    // The socket goes with its listener: nothing stale remains for the next start.
    EXPECT_FALSE(KnockOnRunningDialog(scope));
    EXPECT_NE(RunningDialogListener::Listen(scope), nullptr);
}

TEST(TextEncoding, RoundTripsUtf8AndReplacesBrokenBytes) {
    const std::string text = "Veldmoor ü€ 🎲";
    const std::wstring wide = WidenText(text);
    EXPECT_EQ(wide, L"Veldmoor \u00FC\u20AC \U0001F3B2");
    EXPECT_EQ(NarrowText(wide), text);
    EXPECT_EQ(WidenText("a\xFF"
                        "b"),
              L"a\uFFFDb");
    EXPECT_EQ(WidenText("\xC3"), L"\uFFFD");
    EXPECT_EQ(WidenText("\xC0\xAF"), L"\uFFFD\uFFFD");            // an overlong '/'
    EXPECT_EQ(WidenText("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // a surrogate
}

}  // namespace
}  // namespace veldmoor
