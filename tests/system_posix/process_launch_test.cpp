#include "system/process_launch.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/system_posix/stand_in_programs.h"

namespace veldmoor::testing {
namespace {

namespace fs = std::filesystem;

class ProcessLaunchTest : public ::testing::Test {
protected:
    ProcessLaunchTest() {
        // Readable and writable for another user the program may run as.
        ::chmod(temp_.path().c_str(), 0777);
        fs::create_directories(temp_ / "game/bin");
        ::chmod((temp_ / "game").c_str(), 0777);
        ::chmod((temp_ / "game/bin").c_str(), 0777);
    }
    // A stand-in game: writes where, as whom and with which home it runs into the marker.
    std::string StandInGame() {
        const std::string program = temp_ / "game/bin/start-game";
        WriteScript(program, "{ pwd; id -u; echo \"$HOME\"; echo \"${PKEXEC_UID:-none}\"; } > '" +
                                 marker_ + "'\ntouch '" + marker_ + ".done'\n");
        return program;
    }

    test::TempDir temp_{"veldmoor-launch"};
    std::string marker_ = temp_ / "marker.txt";
    ScopedEnv path_{"PATH", PathWithFirst(temp_ / "bin")};
};

TEST_F(ProcessLaunchTest, TheProgramRunsInTheGivenFolderAndIsNotWaitedFor) {
    const ScopedEnv noPkexec("PKEXEC_UID", std::nullopt);
    const ScopedEnv noSudo("SUDO_UID", std::nullopt);
    ASSERT_TRUE(StartDeElevated(StandInGame(), temp_ / "game/bin"));
    const std::string seen = WaitForFile(marker_);
    EXPECT_EQ(seen, fs::canonical(temp_ / "game/bin").string() + "\n" + std::to_string(getuid()) +
                        "\n" + std::getenv("HOME") + "\nnone\n");
}

TEST_F(ProcessLaunchTest, AsRootOnSomeonesBehalfTheProgramRunsAsThatPerson) {
    if (geteuid() != 0)
        GTEST_SKIP() << "changing the user needs root; this run is not root";
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const std::string home = nobody->pw_dir;
    const ScopedEnv asNobody("PKEXEC_UID", std::to_string(nobody->pw_uid));
    ASSERT_TRUE(StartDeElevated(StandInGame(), temp_ / "game/bin"));
    const std::string seen = WaitForFile(marker_);
    EXPECT_EQ(seen, fs::canonical(temp_ / "game/bin").string() + "\n" +
                        std::to_string(nobody->pw_uid) + "\n" + home + "\nnone\n");
}

TEST_F(ProcessLaunchTest, SudoUidIsTheFallbackAndAnUnknownUserStartsNothing) {
    if (geteuid() != 0)
        GTEST_SKIP() << "the variables count only for a launcher running as root";
    const ScopedEnv noPkexec("PKEXEC_UID", std::nullopt);
    {
        const ScopedEnv sudo("SUDO_UID", "65534");
        const std::optional<DesktopUser> user = FindDesktopUser();
        ASSERT_TRUE(user.has_value());
        EXPECT_EQ(user->uid, 65534U);
    }
    const ScopedEnv unknown("PKEXEC_UID", "4000000000");
    EXPECT_FALSE(FindDesktopUser().has_value());
    EXPECT_FALSE(StartDeElevated(StandInGame(), temp_ / "game/bin"));
}

TEST_F(ProcessLaunchTest, AWindowsProgramRunsThroughWine) {
    WriteScript(temp_ / "bin/wine",
                "{ pwd; echo \"$1\"; } > '" + marker_ + "'\ntouch '" + marker_ + ".done'\n");
    const std::string client = temp_ / "game/client.exe";
    test::WriteTestFile(client, "MZ");
    ASSERT_TRUE(StartDeElevated(client, temp_ / "game"));
    EXPECT_EQ(WaitForFile(marker_), fs::canonical(temp_ / "game").string() + "\n" + client + "\n");
}

// A program named relative to the launcher's folder is found there, although it runs in its own
// folder: the path is not looked up again after the change of folder.
TEST_F(ProcessLaunchTest, ARelativeProgramIsFoundFromTheLaunchersFolder) {
    const ScopedEnv noPkexec("PKEXEC_UID", std::nullopt);
    const ScopedEnv noSudo("SUDO_UID", std::nullopt);
    StandInGame();
    const std::string launcherFolder = fs::current_path().string();
    fs::current_path(temp_.path());
    const bool started = StartDeElevated("game/bin/start-game", "game/bin");
    fs::current_path(launcherFolder);
    ASSERT_TRUE(started);
    EXPECT_EQ(WaitForFile(marker_).substr(0, fs::canonical(temp_ / "game/bin").string().size()),
              fs::canonical(temp_ / "game/bin").string());

    WriteScript(temp_ / "bin/wine",
                "{ pwd; echo \"$1\"; } > '" + marker_ + "'\ntouch '" + marker_ + ".done'\n");
    test::WriteTestFile(temp_ / "game/client.exe", "MZ");
    fs::remove(marker_ + ".done");
    fs::current_path(temp_.path());
    const bool startedClient = StartDeElevated("game/client.exe", "game");
    fs::current_path(launcherFolder);
    ASSERT_TRUE(startedClient);
    EXPECT_EQ(WaitForFile(marker_), fs::canonical(temp_ / "game").string() + "\n" +
                                        fs::canonical(temp_.path()).string() +
                                        "/game/client.exe\n");
}

TEST_F(ProcessLaunchTest, FailuresAreReportedNotHidden) {
    EXPECT_FALSE(StartDeElevated(temp_ / "game/missing", temp_ / "game"));
    EXPECT_FALSE(StartDeElevated(StandInGame(), temp_ / "no-such-folder"));
    EXPECT_FALSE(StartDeElevated("", temp_ / "game"));
    const ScopedEnv noWine("PATH", temp_.path());
    test::WriteTestFile(temp_ / "game/client.exe", "MZ");
    EXPECT_FALSE(StartDeElevated(temp_ / "game/client.exe", temp_ / "game"));
}

// Wine starts even when it cannot run the program: it then ends at once with its failure, and
// that ending is the start's result. A program that ran and ended well counts as started.
TEST_F(ProcessLaunchTest, AWindowsProgramWineCannotRunIsAFailedStart) {
    test::WriteTestFile(temp_ / "game/client.exe", "MZ");
    WriteScript(temp_ / "bin/wine", "echo \"wine: Bad EXE format for $1\" >&2\nexit 193\n");
    EXPECT_FALSE(StartDeElevated(temp_ / "game/client.exe", temp_ / "game"));
    WriteScript(temp_ / "bin/wine", "kill -SEGV $$\n");
    EXPECT_FALSE(StartDeElevated(temp_ / "game/client.exe", temp_ / "game"));
    WriteScript(temp_ / "bin/wine", "exit 0\n");
    EXPECT_TRUE(StartDeElevated(temp_ / "game/client.exe", temp_ / "game"));
}

TEST_F(ProcessLaunchTest, OpenWithDesktopHandsTheTargetToXdgOpen) {
    WriteScript(temp_ / "bin/xdg-open",
                "echo \"$1\" > '" + marker_ + "'\ntouch '" + marker_ + ".done'\n");
    ASSERT_TRUE(OpenWithDesktop("http://127.0.0.1/news"));
    EXPECT_EQ(WaitForFile(marker_), "http://127.0.0.1/news\n");
}

}  // namespace
}  // namespace veldmoor::testing
