#include "system/elevation.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "patch/system_patch_platform.h"
#include "system/folders.h"
#include "tests/system_posix/stand_in_programs.h"

namespace veldmoor::testing {
namespace {

using std::chrono::milliseconds;

class ElevationTest : public ::testing::Test {
protected:
    // A pkexec that records its arguments, one a line, and ends with exitCode after pause.
    void StandInPkexec(int exitCode, const std::string& pause = "0") {
        WriteScript(bin_ + "/pkexec", "printf '%s\\n' \"$@\" > '" + record_ + "'\nsleep " + pause +
                                          "\nexit " + std::to_string(exitCode) + "\n");
    }

    test::TempDir temp_{"veldmoor-elevation"};
    std::string bin_ = temp_ / "bin";
    std::string record_ = temp_ / "arguments.txt";
    ScopedEnv path_{"PATH", PathWithFirst(temp_ / "bin")};
};

TEST_F(ElevationTest, ElevatedMeansRunningAsRoot) {
    EXPECT_EQ(IsElevated(), geteuid() == 0);
}

TEST_F(ElevationTest, WithoutPkexecNothingStarts) {
    const ScopedEnv onlyEmpty("PATH", temp_.path());
    const ElevatedStart start = RunElevated({"-instantpatch"}, true);
    EXPECT_FALSE(start.started);
    EXPECT_EQ(start.process, nullptr);
    SystemPatchPlatform platform;
    EXPECT_FALSE(platform.RunElevated({"-instantpatch"}));
    EXPECT_EQ(platform.RunElevatedAndWait({"-repair"}, milliseconds(1000)),
              PatchPlatform::ElevatedRun::NotStarted);
}

TEST_F(ElevationTest, TheOwnProgramRunsThroughPkexecInTheCurrentFolderWithTheArguments) {
    StandInPkexec(0);
    const ElevatedStart start = RunElevated({"-repair", "/games/with space", "-rrights"}, true);
    ASSERT_TRUE(start.started);
    ASSERT_NE(start.process, nullptr);
    ASSERT_TRUE(start.process->WaitFor(milliseconds(10000)));
    EXPECT_EQ(start.process->ExitCode(), 0);

    const std::string recorded = test::ReadTestFile(record_);
    const std::string tail = ProgramFilePath() + "\n-repair\n/games/with space\n-rrights\n";
    ASSERT_GE(recorded.size(), tail.size());
    EXPECT_EQ(recorded.substr(recorded.size() - tail.size()), tail);
    EXPECT_NE(recorded.find("--chdir=" + CurrentDirectory() + "\n"), std::string::npos);
}

TEST_F(ElevationTest, WithoutAHandleNoneIsGiven) {
    StandInPkexec(0);
    const ElevatedStart start = RunElevated({"-instantpatch"}, false);
    EXPECT_TRUE(start.started);
    EXPECT_EQ(start.process, nullptr);
}

TEST_F(ElevationTest, TheWorkflowSeesADeclinedQuestionAsNotStartedAndALongRepairAsTimedOut) {
    SystemPatchPlatform platform;
    StandInPkexec(kElevationDeclined);
    EXPECT_EQ(platform.RunElevatedAndWait({"-repair"}, milliseconds(10000)),
              PatchPlatform::ElevatedRun::NotStarted);
    StandInPkexec(0);
    EXPECT_EQ(platform.RunElevatedAndWait({"-repair"}, milliseconds(10000)),
              PatchPlatform::ElevatedRun::Finished);
    StandInPkexec(0, "5");
    EXPECT_EQ(platform.RunElevatedAndWait({"-repair"}, milliseconds(100)),
              PatchPlatform::ElevatedRun::TimedOut);
}

TEST_F(ElevationTest, AStopRequestEndsTheWaitForTheElevatedProgram) {
    SystemPatchPlatform platform;
    StandInPkexec(0, "3");
    int asked = 0;
    // Without the stop request the wait would see the stand-in finish after three seconds.
    EXPECT_EQ(platform.RunElevatedAndWaitUnlessStopped({"-repair"}, milliseconds(60000),
                                                       [&asked] { return ++asked >= 2; }),
              PatchPlatform::ElevatedRun::TimedOut);
    EXPECT_EQ(asked, 2);
    StandInPkexec(0);
    EXPECT_EQ(platform.RunElevatedAndWaitUnlessStopped({"-repair"}, milliseconds(60000),
                                                       [] { return false; }),
              PatchPlatform::ElevatedRun::Finished);
}

TEST(ProcessHandle, ReportsTheExitCodeOrASignal) {
    const pid_t exits = fork();
    if (exits == 0)
        _exit(7);
    ProcessHandle first(exits);
    ASSERT_TRUE(first.WaitFor(milliseconds(10000)));
    EXPECT_EQ(first.ExitCode(), 7);

    const pid_t hangs = fork();
    if (hangs == 0) {
        pause();
        _exit(0);
    }
    ProcessHandle second(hangs);
    EXPECT_FALSE(second.WaitFor(milliseconds(50)));
    kill(hangs, SIGKILL);
    ASSERT_TRUE(second.WaitFor(milliseconds(10000)));
    EXPECT_EQ(second.ExitCode(), 128 + SIGKILL);
}

TEST(FindOnPath, FindsExecutablesOnly) {
    EXPECT_FALSE(FindOnPath("sh").empty());
    EXPECT_EQ(FindOnPath("no-such-program-veldmoor"), "");
    EXPECT_EQ(FindOnPath("/bin/sh"), "/bin/sh");
}

}  // namespace
}  // namespace veldmoor::testing
