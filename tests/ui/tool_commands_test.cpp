// The tools menu's commands against real folders: which program starts where, and which
// message tells what is missing.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"
#include "tests/system_posix/stand_in_programs.h"
#include "ui/tool_commands.h"

namespace veldmoor {
namespace {

class RecordingPrompt : public Prompt {
public:
    PromptAnswer ShowMessage(const std::string& text, const std::string& caption, PromptButtons,
                             PromptIcon icon) override {
        messages.push_back(caption + "|" + text);
        icons.push_back(icon);
        return PromptAnswer::Ok;
    }
    std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::vector<std::string> messages;
    std::vector<PromptIcon> icons;
};

class ToolCommandsTest : public ::testing::Test {
protected:
    ToolCommandsTest() {
        shell_.startProgram = [this](const std::string& program, const std::string& directory) {
            starts_.push_back(program + "@" + directory);
            return startsSucceed_;
        };
        shell_.openFolder = [this](const std::string& folder) {
            opened_.push_back(folder);
            return true;
        };
    }
    void Run(int command) {
        RunToolCommand(command, std::optional<std::string>(game_), documents_, shell_, prompt_);
    }

    test::TempDir temp_{"veldmoor-tools"};
    std::string game_ = temp_ / "game";
    std::string documents_ = temp_ / "documents";
    ShellActions shell_;
    RecordingPrompt prompt_;
    std::vector<std::string> starts_;
    std::vector<std::string> opened_;
    bool startsSucceed_ = true;
};

TEST_F(ToolCommandsTest, AToolStartsInItsOwnFolder) {
    test::WriteTestFile(game_ + "/tools/statusmap/VeldmoorStatusMap.exe", "MZ");
    Run(kCmdStatusMap);
    ASSERT_EQ(starts_.size(), 1u);
    EXPECT_EQ(starts_[0],
              game_ + "/tools/statusmap/VeldmoorStatusMap.exe@" + game_ + "/tools/statusmap");
    EXPECT_TRUE(prompt_.messages.empty());
}

TEST_F(ToolCommandsTest, AMissingToolOrAFolderInItsPlaceShowsTheToolsMessage) {
    Run(kCmdLoopTool);
    std::filesystem::create_directories(game_ + "/tools/logsweeper/LogSweeper.exe");
    Run(kCmdLogSweeper);
    EXPECT_TRUE(starts_.empty());
    ASSERT_EQ(prompt_.messages.size(), 2u);
    EXPECT_EQ(prompt_.messages[0],
              "Fehler|VelLoop konnte nicht aufgerufen werden. Bitte patche um sicherzustellen, "
              "dass es verfügbar ist.");
    EXPECT_EQ(prompt_.messages[1],
              "Fehler|Der LogSweeper konnte nicht aufgerufen werden. Bitte patche um "
              "sicherzustellen, dass er verfügbar ist.");
    EXPECT_EQ(prompt_.icons[0], PromptIcon::Error);
}

TEST_F(ToolCommandsTest, AToolThatFailsToStartShowsTheMessage) {
    test::WriteTestFile(game_ + "/tools/velloop/VeldmoorLoop.exe", "MZ");
    startsSucceed_ = false;
    Run(kCmdLoopTool);
    EXPECT_EQ(starts_.size(), 1u);
    EXPECT_EQ(prompt_.messages.size(), 1u);
}

TEST_F(ToolCommandsTest, FoldersOpenWhenTheyExistAndAreNeverCreated) {
    std::filesystem::create_directories(documents_ + "/Veldmoor/Screenshots");
    Run(kCmdOpenScreenshots);
    Run(kCmdOpenLogs);
    EXPECT_EQ(opened_, std::vector<std::string>{documents_ + "/Veldmoor/Screenshots"});
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0], "|Du hast noch keine Logs.");
    EXPECT_EQ(prompt_.icons[0], PromptIcon::None);
    EXPECT_FALSE(std::filesystem::exists(documents_ + "/Veldmoor/Logs"));
}

TEST_F(ToolCommandsTest, WithoutAProfileToolsDoNothingButFoldersStillOpen) {
    test::WriteTestFile(game_ + "/tools/statusmap/VeldmoorStatusMap.exe", "MZ");
    std::filesystem::create_directories(documents_ + "/Veldmoor/Logs");
    RunToolCommand(kCmdStatusMap, std::nullopt, documents_, shell_, prompt_);
    RunToolCommand(kCmdOpenLogs, std::nullopt, documents_, shell_, prompt_);
    EXPECT_TRUE(starts_.empty());
    EXPECT_TRUE(prompt_.messages.empty());
    EXPECT_EQ(opened_.size(), 1u);
}

// The real start: the engine writes the tools without execute bits, and they are Windows
// programs, so they run through wine in their own folder, as the game does.
TEST_F(ToolCommandsTest, TheSystemsStartRunsEachToolThroughWineInItsOwnFolder) {
    const std::string marker = temp_ / "wine-saw";
    testing::WriteScript(temp_ / "bin/wine",
                         "{ pwd; echo \"$1\"; } > '" + marker + "'\ntouch '" + marker + ".done'\n");
    const testing::ScopedEnv path("PATH", testing::PathWithFirst(temp_ / "bin"));
    const ShellActions system = SystemShellActions();
    const struct {
        int command;
        std::string folder;
    } tools[] = {{kCmdStatusMap, "/tools/statusmap/VeldmoorStatusMap.exe"},
                 {kCmdLoopTool, "/tools/velloop/VeldmoorLoop.exe"},
                 {kCmdLogSweeper, "/tools/logsweeper/LogSweeper.exe"}};
    for (const auto& tool : tools) {
        test::WriteTestFile(game_ + tool.folder, "MZ");
        std::filesystem::remove(marker + ".done");
        RunToolCommand(tool.command, std::optional<std::string>(game_), documents_, system,
                       prompt_);
        const std::string program = game_ + tool.folder;
        EXPECT_EQ(
            testing::WaitForFile(marker),
            std::filesystem::canonical(std::filesystem::path(program).parent_path()).string() +
                "\n" + program + "\n");
    }
    EXPECT_TRUE(prompt_.messages.empty());
}

// A tool wine cannot run (wine ends at once with its failure) is reported, not lost.
TEST_F(ToolCommandsTest, AToolWineCannotRunShowsTheToolsMessage) {
    testing::WriteScript(temp_ / "bin/wine", "echo \"wine: cannot find $1\" >&2\nexit 53\n");
    const testing::ScopedEnv path("PATH", testing::PathWithFirst(temp_ / "bin"));
    test::WriteTestFile(game_ + "/tools/statusmap/VeldmoorStatusMap.exe", "MZ");
    RunToolCommand(kCmdStatusMap, std::optional<std::string>(game_), documents_,
                   SystemShellActions(), prompt_);
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0],
              "Fehler|Die Statuskarte konnte nicht aufgerufen werden. Bitte patche um "
              "sicherzustellen, dass diese verfügbar ist.");
}

}  // namespace
}  // namespace veldmoor
