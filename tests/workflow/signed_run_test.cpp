// Patch runs against signed repositories: the launcher's own update, its cleanup list and the
// game update are checked against the root built into the program (here its run-time override),
// and the run that examines the game files by content.
#include <gtest/gtest.h>

#include <filesystem>

#include "patch/operations_processor.h"
#include "sync/signed_metadata.h"
#include "system/launcher_file.h"
#include "tests/workflow/workflow_fixture.h"

namespace veldmoor::testing {
namespace {

namespace fs = std::filesystem;

const std::string kAbort = "\r\nAbbruch.\r\n";

class SignedRunTest : public WorkflowTest {
protected:
    SignedRunTest() { SignRepositories(); }

    // A publisher without the signing key puts `content` in place of a listed file: its copy
    // and chunk index agree with each other and the file list keeps the signed time.
    void HostileChange(const std::string& repository, const std::string& path,
                       const std::string& content) {
        const std::string hostile = temp_ / "hostile";
        test::WriteTestFile(temp_ / ("hostile-source/" + path), content);
        PublishOptions options;
        options.sourceDir = temp_ / "hostile-source";
        options.repoDir = hostile;
        ASSERT_TRUE(test::Done(PublishRepository(options)));
        for (const char* suffix : {"", ".chunks"}) {
            fs::copy_file(hostile + "/transfer/" + path + suffix,
                          temp_ / ("server/" + repository + "/transfer/" + path + suffix),
                          fs::copy_options::overwrite_existing);
        }
    }

    // A run that must be refused: the integrity report, "Abbruch.", no restart, no game.
    void RunRefused() {
        view_.Answer(PromptAnswer::Ok);
        Run(Request());
        const std::vector<ScriptedPrompt::Message> messages = view_.Messages();
        ASSERT_EQ(messages.size(), 1U) << view_.StatusText();
        EXPECT_EQ(messages[0].caption, "Integritätsfehler");
        const std::string status = view_.StatusText();
        EXPECT_EQ(status.substr(status.size() - kAbort.size()), kAbort) << status;
        EXPECT_TRUE(platform_.programStarts.empty());
        EXPECT_TRUE(platform_.launcherStarts.empty());
        EXPECT_TRUE(platform_.endProcessCodes.empty());
        EXPECT_EQ(view_.Count("EndDialog:0"), 0);
    }
};

TEST_F(SignedRunTest, AVerifiedRunPatchesCleansUpAndStartsTheGame) {
    Publish("launcher", {{"operations.txt", "client remove old.txt\r\n"}});
    Publish(gameRepository_, {{"client.exe", "the game client"}, {"data/map.mul", "a map"}});
    test::WriteTestFile(Game("old.txt"), "obsolete");
    PatchRunRequest request = Request();
    request.profile->ExecuteAfterPatch = Game("client.exe");

    Run(std::move(request));

    EXPECT_TRUE(view_.Messages().empty()) << view_.StatusText();
    EXPECT_EQ(test::ReadTestFile(Game("data/map.mul")), "a map");
    EXPECT_FALSE(fs::exists(Game("old.txt")));
    EXPECT_EQ(platform_.programStarts.size(), 1U);
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
    // Both repositories were verified: each has its trusted state beside the profiles.
    std::vector<std::string> expected = {trustStateFileName(served_->address("launcher")),
                                         trustStateFileName(served_->address(gameRepository_))};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(TrustedStates(), expected);
}

TEST_F(SignedRunTest, ALauncherUpdateFromAHostilePublisherIsRefusedAndLeavesTheOldFiles) {
    const std::string program(kLauncherFileName);
    Publish("launcher", {{program, "launcher version 2"}});
    HostileChange("launcher", program, "a hostile launcher");
    WriteOld(Launcher(program), "launcher version 1");

    RunRefused();

    EXPECT_EQ(test::ReadTestFile(Launcher(program)), "launcher version 1");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(launcherFolder_))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{program});  // nothing half-written beside it
    EXPECT_EQ(platform_.accessChecks, 0);                // the game update never began
    EXPECT_TRUE(TrustedStates().empty());
}

// A cleanup list on disk that is not the signed one deletes nothing.
struct CleanupListCase {
    const char* name;
    bool published;  // the repository has a list, changed on disk afterwards with its time kept
};

class SignedCleanupListTest : public SignedRunTest,
                              public ::testing::WithParamInterface<CleanupListCase> {};

TEST_P(SignedCleanupListTest, AListThatIsNotTheSignedOneIsRefusedAndDeletesNothing) {
    const std::string hostileList = "launcher remove keep.dll\r\nclient remove keep.dat\r\n";
    if (GetParam().published) {
        Publish("launcher", {{kOperationsFileName, "launcher remove stale.dll\r\n"}});
        RecordingView first;
        Run(Request(), first);
        ASSERT_TRUE(first.Messages().empty()) << first.StatusText();
        ChangeKeepingTime(Launcher(kOperationsFileName), hostileList);
    } else {
        test::WriteTestFile(Launcher(kOperationsFileName), hostileList);
    }
    test::WriteTestFile(Launcher("keep.dll"), "kept");
    test::WriteTestFile(Game("keep.dat"), "kept");

    RunRefused();

    EXPECT_TRUE(fs::exists(Launcher("keep.dll")));
    EXPECT_TRUE(fs::exists(Game("keep.dat")));
}

INSTANTIATE_TEST_SUITE_P(Lists, SignedCleanupListTest,
                         ::testing::Values(CleanupListCase{"ChangedOnDisk", true},
                                           CleanupListCase{"NotPublished", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The repair dialog's check of the game files: every file examined by its content (by SHA-256
// with a signed repository, by the chunk index without), what differs healed, the counts told.
class VerifyRunTest : public WorkflowTest, public ::testing::WithParamInterface<bool> {
protected:
    VerifyRunTest() {
        if (GetParam())
            SignRepositories();
    }
};

TEST_P(VerifyRunTest, ACorruptedFileIsHealedAndTheCountsAreTold) {
    const std::string map(70000, 'm');
    Publish(gameRepository_,
            {{"client.exe", "the game client"}, {"data/map.mul", map}, {"readme.txt", "hallo"}});
    RecordingView install;
    Run(Request(), install);
    ASSERT_TRUE(install.Messages().empty()) << install.StatusText();
    std::string corrupted = map;
    corrupted[30000] = 'x';
    ChangeKeepingTime(Game("data/map.mul"), corrupted);
    const std::size_t starts = platform_.programStarts.size();

    PatchRunRequest request = Request();
    request.verifyContent = true;
    Run(std::move(request));

    EXPECT_EQ(test::ReadTestFile(Game("data/map.mul")), map);
    const std::string status = view_.StatusText();
    EXPECT_EQ(status.rfind("Prüfe die Spieldateien ..\r\n", 0), 0U) << status;
    const std::string summary = "3 Dateien geprüft, 1 repariert\r\n";
    EXPECT_EQ(status.substr(status.size() - summary.size()), summary) << status;
    EXPECT_EQ(status.find("Launcher"), std::string::npos) << status;
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(view_.Count("LeavePatchingLayout"), 1);
    EXPECT_EQ(view_.Count("EndDialog:0"), 0);
    EXPECT_EQ(platform_.programStarts.size(), starts);
}

INSTANTIATE_TEST_SUITE_P(Repositories, VerifyRunTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Signed" : "Unsigned"; });

}  // namespace
}  // namespace veldmoor::testing
