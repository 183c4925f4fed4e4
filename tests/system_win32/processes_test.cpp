// Processes through the Win32 calls, each against real helper processes: the process list and
// its waits, detached and de-elevated starts, the elevated start through the shell's "runas",
// the terminal test, Ctrl+Break, and the folder lock between processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "system/detached_process.h"
#include "system/elevation.h"
#include "system/file_ops.h"
#include "system/folder_entries.h"
#include "system/folder_lock.h"
#include "system/path.h"
#include "system/process_launch.h"
#include "system/process_list.h"
#include "system/text_encoding.h"
#include "tests/support/result_assertions.h"
#include "tests/system_win32/helper_process.h"

namespace veldmoor {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 20s;

// Waits until a file written by another process holds whole lines; its text then.
std::string AwaitRecord(const std::string& path) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    std::string text = test::ReadFile(path);
    while ((text.empty() || text.back() != '\n') && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(20ms);
        text = test::ReadFile(path);
    }
    return text;
}

TEST(ProcessList, FindsThisProgramAndAHelperByTheirFiles) {
    const std::vector<RunningProcess> processes = ListRunningProcesses();
    const auto self = std::find_if(processes.begin(), processes.end(), [](const auto& process) {
        return process.id == CurrentProcessId();
    });
    ASSERT_NE(self, processes.end());
    EXPECT_TRUE(IsSameProgramFile(self->imagePath, test::TestProgram())) << self->imagePath;
    EXPECT_EQ(static_cast<DWORD>(CurrentProcessId()), ::GetCurrentProcessId());

    test::HelperProcess helper("sleep", {});
    ASSERT_TRUE(helper.WaitForOutput("sleeping", kDeadline));
    // ctest runs other tests of this program at the same time, so more copies may be listed.
    bool foundSelf = false;
    bool foundHelper = false;
    for (const RunningProcess& process : ListRunningProcesses()) {
        if (IsSameProgramFile(process.imagePath, test::TestProgram())) {
            foundSelf = foundSelf || process.id == CurrentProcessId();
            foundHelper = foundHelper || static_cast<DWORD>(process.id) == helper.Id();
        }
    }
    EXPECT_TRUE(foundSelf);
    EXPECT_TRUE(foundHelper);
}

TEST(ProcessList, SameProgramFileIgnoresCaseAndSpelling) {
    const std::string program = test::TestProgram();
    std::string upper = program;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_TRUE(IsSameProgramFile(program, upper));
    EXPECT_TRUE(IsSameProgramFile(program, DirectoryOf(program) + "\\.\\" + FileNameOf(program)));
    EXPECT_FALSE(IsSameProgramFile(program, program + ".other"));
    EXPECT_FALSE(IsSameProgramFile(program, ""));
}

TEST(ProcessList, WaitsForAnEndOrGivesUp) {
    test::HelperProcess helper("sleep", {});
    ASSERT_TRUE(helper.WaitForOutput("sleeping", kDeadline));
    EXPECT_FALSE(WaitForProcessExit(static_cast<int>(helper.Id()), 50ms));
    std::thread killer([&helper] { helper.Kill(); });
    EXPECT_TRUE(WaitForProcessExit(static_cast<int>(helper.Id()), kDeadline));
    killer.join();
}

TEST(DetachedProcess, ArgumentsAndFolderArriveExactly) {
    const test::TempFolder folder;
    const std::string record = folder / "record.txt";
    const std::string workIn = folder / "Arbeits ordner \xC3\xA4";
    ASSERT_TRUE(MakeDirectory(workIn));
    const test::ScopedVariable task(test::kHelperVariable, "record");
    const test::ScopedVariable out(L"VELDMOOR_HELPER_OUT", record);
    const std::vector<std::string> arguments = {
        "a b", "", "-x", "\"q\"", "C:\\end\\", "back\\\\\"slash", "\xC3\xBC"};
    ASSERT_TRUE(StartDetachedProcess(test::TestProgram(), arguments, workIn));
    std::string expected = "cwd=" + workIn + "\n";
    for (const std::string& argument : arguments) {
        expected += "arg=" + argument + "\n";
    }
    EXPECT_EQ(AwaitRecord(record), expected);

    EXPECT_FALSE(StartDetachedProcess(folder / "missing.exe", {}, ""));
    EXPECT_FALSE(StartDetachedProcess(test::TestProgram(), {}, folder / "gone"));
}

TEST(DeElevatedStart, StartsTheProgramInItsFolderWithoutArguments) {
    const test::TempFolder folder;
    const std::string record = folder / "record.txt";
    const test::ScopedVariable task(test::kHelperVariable, "record");
    const test::ScopedVariable out(L"VELDMOOR_HELPER_OUT", record);
    ASSERT_TRUE(StartDeElevated(test::TestProgram(), folder.Path()));
    EXPECT_EQ(AwaitRecord(record), "cwd=" + folder.Path() + "\n");
    EXPECT_FALSE(StartDeElevated(folder / "missing.exe", folder.Path()));
    EXPECT_FALSE(StartDeElevated("", folder.Path()));
}

TEST(DeElevatedStart, TheDesktopUserHasANameAndAProfile) {
    const std::optional<DesktopUser> user = FindDesktopUser();
    ASSERT_TRUE(user.has_value());
    std::vector<wchar_t> name(257);
    auto size = static_cast<DWORD>(name.size());
    ASSERT_NE(::GetUserNameW(name.data(), &size), 0);
    EXPECT_EQ(user->name, NarrowText(name.data()));
    EXPECT_TRUE(IsDirectory(user->home)) << user->home;
}

TEST(DeElevatedStart, TheShellOpensAFileWithItsProgram) {
    const test::TempFolder folder;
    const std::string marker = folder / "opened.txt";
    test::WriteFile(folder / "open me.cmd", "@echo opened> \"" + marker + "\"\r\n");
    ASSERT_TRUE(OpenWithDesktop(folder / "open me.cmd"));
    EXPECT_EQ(AwaitRecord(marker), "opened\r\n");
    EXPECT_FALSE(OpenWithDesktop(folder / "missing.cmd"));
    EXPECT_FALSE(OpenWithDesktop(""));
}

TEST(Elevation, RunsTheOwnProgramThroughRunasAndWaitsForIt) {
    // Wine's token is elevated already: "runas" asks nothing there.
    const test::ScopedVariable task(test::kHelperVariable, "exit");
    ElevatedStart start = RunElevated({"7"}, true);
    ASSERT_TRUE(start.started);
    ASSERT_NE(start.process, nullptr);
    ASSERT_TRUE(start.process->WaitFor(kDeadline));
    EXPECT_EQ(start.process->ExitCode(), 7);
    EXPECT_GT(start.process->Id(), 0);

    ElevatedStart unwatched = RunElevated({"0"}, false);
    EXPECT_TRUE(unwatched.started);
    EXPECT_EQ(unwatched.process, nullptr);
}

TEST(Elevation, TheElevationOfTheTokenIsRead) {
    HANDLE token = nullptr;
    ASSERT_NE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token), 0);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL read =
        ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    ::CloseHandle(token);
    ASSERT_NE(read, 0);
    // Elevated needs the token's flag and the administrators' membership; a flag alone is not
    // enough, so the answer may be no where the flag is set, never yes where it is not.
    if (elevation.TokenIsElevated == 0) {
        EXPECT_FALSE(IsElevated());
    } else {
        BOOL member = FALSE;
        SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
        PSID administrators = nullptr;
        ASSERT_NE(
            ::AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                       DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators),
            0);
        ::CheckTokenMembership(nullptr, administrators, &member);
        ::FreeSid(administrators);
        EXPECT_EQ(IsElevated(), member != FALSE);
    }
}

TEST(Elevation, ProcessHandleReportsTheExitCode) {
    test::HelperProcess helper("exit", {"42"});
    ASSERT_TRUE(helper.Started());
    ProcessHandle handle(static_cast<int>(helper.Id()));
    ASSERT_TRUE(handle.WaitFor(kDeadline));
    EXPECT_EQ(handle.ExitCode(), 42);
    EXPECT_TRUE(handle.WaitFor(0ms));  // an ended process stays ended

    test::HelperProcess sleeper("sleep", {});
    ASSERT_TRUE(sleeper.WaitForOutput("sleeping", kDeadline));
    ProcessHandle running(static_cast<int>(sleeper.Id()));
    EXPECT_FALSE(running.WaitFor(20ms));
    sleeper.Kill();
    EXPECT_TRUE(running.WaitFor(kDeadline));
}

TEST(Elevation, FindOnPathUsesPathAndItsExtensions) {
    const std::string cmd = FindOnPath("cmd");
    EXPECT_TRUE(EqualsNoCase(FileNameOf(cmd), "cmd.exe")) << cmd;
    EXPECT_EQ(FindOnPath("cmd.exe"), cmd);
    EXPECT_EQ(FindOnPath("no-such-program-veldmoor"), "");
    EXPECT_EQ(FindOnPath(test::TestProgram()), test::TestProgram());
    EXPECT_EQ(FindOnPath(""), "");
}

TEST(Terminal, ARedirectedOutputIsNoTerminal) {
    test::HelperProcess helper("terminal", {});
    EXPECT_EQ(helper.WaitForExit(kDeadline), 0);
    EXPECT_EQ(helper.Output().rfind("no terminal", 0), 0u) << helper.Output();
}

TEST(FolderLock, OneHolderAtATimeAcrossProcessesAndFreedWhenTheHolderDies) {
    const test::TempFolder folder;
    const auto heldElsewhere = [](const std::string& path) {
        return FolderLock::TryLock(path).Cause() == Fault::HeldElsewhere;
    };
    {
        auto lock = test::ValueOf(FolderLock::TryLock(folder.Path()));
        ASSERT_NE(lock, nullptr);
        EXPECT_TRUE(heldElsewhere(folder.Path()));
        // Another spelling of the same folder is the same folder.
        std::string upper = folder.Path();
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](char c) { return static_cast<char>(std::toupper(c)); });
        EXPECT_TRUE(heldElsewhere(upper));
        test::HelperProcess refused("lock", {folder.Path()});
        EXPECT_EQ(refused.WaitForExit(kDeadline), 1);
        EXPECT_NE(refused.Output().find("another program"), std::string::npos) << refused.Output();
    }
    test::HelperProcess holder("lock", {folder.Path()});
    ASSERT_TRUE(holder.WaitForOutput("locked", kDeadline)) << holder.Output();
    EXPECT_TRUE(heldElsewhere(folder.Path()));
    // Lock waits while the holder lives and takes the lock once it is killed.
    std::thread killer([&holder] {
        std::this_thread::sleep_for(100ms);
        holder.Kill();
    });
    const Result<std::unique_ptr<FolderLock>> taken =
        FolderLock::Lock(folder.Path(), kDeadline, {});
    killer.join();
    EXPECT_TRUE(test::Done(taken));
    // Nothing was added to the folder for the lock.
    EXPECT_TRUE(FolderEntryNames(folder.Path()).empty());
}

TEST(FolderLock, AMissingFolderOrAFileFails) {
    const test::TempFolder folder;
    test::WriteFile(folder / "file", "x");
    for (const std::string& path : {folder / "missing", folder / "file"}) {
        const Result<std::unique_ptr<FolderLock>> lock = FolderLock::TryLock(path);
        ASSERT_FALSE(lock.Ok()) << path;
        EXPECT_EQ(lock.Cause(), Fault::Other) << path;
        EXPECT_FALSE(lock.Message().empty()) << path;
    }
}

TEST(StopSignals, TheFirstCtrlCIsAskedForTheSecondEndsTheProgram) {
    // The helpers raise Ctrl+C on consoles of their own (a test run from a pipe has none).
    test::HelperProcess once("stop", {}, CREATE_NEW_CONSOLE);
    EXPECT_EQ(once.WaitForExit(kDeadline), 128 + 2);
    test::HelperProcess twice("stop", {"twice"}, CREATE_NEW_CONSOLE);
    // Ended by the system's handler at once: not the helper's own ending after the request (130)
    // nor after outliving it (4). Windows ends it with STATUS_CONTROL_C_EXIT, Wine with 0.
    const int code = twice.WaitForExit(kDeadline);
    EXPECT_TRUE(static_cast<DWORD>(code) == STATUS_CONTROL_C_EXIT || code == 0) << code;
}

}  // namespace
}  // namespace veldmoor
