#include "system/repair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/test_folders.h"
#include "tests/support/scripted_prompt.h"
#include "ui/repair_questions.h"
#include "ui/report_texts.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::ScopedEnv;
using testing::ScriptedPrompt;
using testing::TestFolder;
using testing::WriteFile;

const std::string kSettingsNotMoved =
    "Die Einstellungen konnten nicht entfernt werden.\r\n\r\n"
    "Schließe den Client und alle Anwendungen die ggf. darauf zugreifen.";
const std::string kConfigNotRemoved =
    "Die Datei 'uo.cfg' konnten nicht entfernt werden.\r\n\r\n"
    "Schließe den Client und alle Anwendungen die ggf. darauf zugreifen.";

// The settings folder lives in a temporary Documents folder, the installation beside it.
class SettingsRepair : public ::testing::Test {
protected:
    SettingsRepair()
        : documents_(folder_.Make("Documents")),
          install_(folder_.Make("Veldmoor UO")),
          documentsEnv_("VELDMOOR_DOCUMENTS_DIR", documents_.string()) {}

    fs::path MakeSettings() {
        const fs::path settings = documents_ / "Veldmoor" / "Einstellungen";
        fs::create_directories(settings / "Makros");
        WriteFile(settings / "Makros" / "macros.txt", "Say hello");
        return settings;
    }
    // Names in Documents/Veldmoor other than the settings folder: the backups.
    std::vector<std::string> Backups() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(documents_ / "Veldmoor")) {
            if (entry.path().filename() != "Einstellungen") {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }

    TestFolder folder_;
    fs::path documents_;
    fs::path install_;
    ScopedEnv documentsEnv_;
};

TEST_F(SettingsRepair, MovesTheSettingsAsideUnderTheTimeAndDeletesTheConfigFile) {
    const fs::path settings = MakeSettings();
    WriteFile(install_ / "uo.cfg", "Resolution=800x600");
    WriteFile(install_ / "client.exe", "client");
    ScriptedPrompt prompt;

    const auto before = static_cast<long long>(std::time(nullptr));
    RemoveClientSettings(install_.string(), prompt);
    const auto after = static_cast<long long>(std::time(nullptr));

    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(fs::exists(settings));
    const std::vector<std::string> backups = Backups();
    ASSERT_EQ(backups.size(), 1U);
    const std::string prefix = "Einstellungen_";
    ASSERT_EQ(backups[0].rfind(prefix, 0), 0U) << backups[0];
    const long long seconds = std::stoll(backups[0].substr(prefix.size()));
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_EQ(ReadFile(documents_ / "Veldmoor" / backups[0] / "Makros" / "macros.txt"),
              "Say hello");
    EXPECT_FALSE(fs::exists(install_ / "uo.cfg"));
    EXPECT_TRUE(fs::exists(install_ / "client.exe"));
}

TEST_F(SettingsRepair, WithoutASettingsFolderNothingIsTouched) {
    WriteFile(install_ / "uo.cfg", "Resolution=800x600");
    ScriptedPrompt prompt;
    RemoveClientSettings(install_.string(), prompt);
    EXPECT_TRUE(fs::exists(install_ / "uo.cfg"));
    EXPECT_FALSE(fs::exists(documents_ / "Veldmoor"));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SettingsRepair, AMissingConfigFileIsNoFailure) {
    MakeSettings();
    ScriptedPrompt prompt;
    RemoveClientSettings(install_.string(), prompt);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(Backups().size(), 1U);
}

TEST_F(SettingsRepair, TwoRepairsInOneSecondKeepBothBackups) {
    const fs::path settings = documents_ / "Veldmoor" / "Einstellungen";
    fs::create_directories(settings);
    const std::string first = SettingsBackupName(settings.string(), 1700000000);
    EXPECT_EQ(first, settings.string() + "_1700000000");
    fs::create_directories(first);
    WriteFile(fs::path(first) / "keep", "earlier backup");
    const std::string second = SettingsBackupName(settings.string(), 1700000000);
    EXPECT_EQ(second, settings.string() + "_1700000000_2");
    fs::create_directories(second);
    EXPECT_EQ(SettingsBackupName(settings.string(), 1700000000),
              settings.string() + "_1700000000_3");
    EXPECT_EQ(SettingsBackupName(settings.string(), 1700000001), settings.string() + "_1700000001");

    // Two real repairs straight after each other: both earlier contents survive.
    MakeSettings();
    ScriptedPrompt prompt;
    RemoveClientSettings(install_.string(), prompt);
    MakeSettings();
    RemoveClientSettings(install_.string(), prompt);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(Backups().size(), 4U);
    EXPECT_EQ(ReadFile(fs::path(first) / "keep"), "earlier backup");
}

// A prompt that runs an action when asked, then answers from its script: the person closes the
// program that held the file and chooses Retry.
class ActingPrompt : public ScriptedPrompt {
public:
    std::function<void()> onMessage;
    PromptAnswer ShowMessage(const std::string& text, const std::string& caption,
                             PromptButtons buttons, PromptIcon icon) override {
        if (onMessage) {
            onMessage();
        }
        return ScriptedPrompt::ShowMessage(text, caption, buttons, icon);
    }
};

TEST_F(SettingsRepair, AConfigFileThatCannotBeDeletedIsRetriedUntilItGoes) {
    MakeSettings();
    // A folder in uo.cfg's place cannot be deleted as a file, whoever runs the test.
    fs::create_directories(install_ / "uo.cfg" / "held");
    ActingPrompt prompt;
    int asked = 0;
    prompt.onMessage = [&] {
        if (++asked == 2) {
            fs::remove_all(install_ / "uo.cfg");
            WriteFile(install_ / "uo.cfg", "now a file again");
        }
    };
    prompt.Answer(PromptAnswer::Retry).Answer(PromptAnswer::Retry);
    RemoveClientSettings(install_.string(), prompt);

    ASSERT_EQ(prompt.messages.size(), 2U);
    EXPECT_EQ(prompt.messages[0].text, kConfigNotRemoved);
    EXPECT_EQ(prompt.messages[0].caption, "Fehler");
    EXPECT_EQ(prompt.messages[0].buttons, PromptButtons::RetryCancel);
    EXPECT_EQ(prompt.messages[0].icon, PromptIcon::Warning);
    EXPECT_FALSE(fs::exists(install_ / "uo.cfg"));
}

TEST_F(SettingsRepair, CancelLeavesTheConfigFileInPlace) {
    MakeSettings();
    fs::create_directories(install_ / "uo.cfg" / "held");
    ScriptedPrompt prompt;
    prompt.Answer(PromptAnswer::Cancel);
    RemoveClientSettings(install_.string(), prompt);
    EXPECT_EQ(prompt.messages.size(), 1U);
    EXPECT_TRUE(fs::exists(install_ / "uo.cfg" / "held"));
    EXPECT_EQ(Backups().size(), 1U);
}

// Makes a folder's entries unchangeable: by its permissions for an ordinary user, by the
// immutable attribute for the superuser, whom permissions do not stop.
bool Freeze(const fs::path& folder, bool frozen) {
    if (geteuid() != 0) {
        fs::permissions(
            folder, frozen ? fs::perms::owner_read | fs::perms::owner_exec : fs::perms::owner_all);
        return true;
    }
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor < 0) {
        return false;
    }
    int flags = 0;
    bool done = ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = frozen ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(descriptor);
    return done;
}

TEST_F(SettingsRepair, ASettingsFolderThatCannotBeMovedIsRetriedAndCancelStopsTheRepair) {
    const fs::path settings = MakeSettings();
    WriteFile(install_ / "uo.cfg", "Resolution=800x600");
    if (!Freeze(documents_ / "Veldmoor", true)) {
        GTEST_SKIP() << "this file system cannot make a folder unchangeable for the superuser";
    }
    ScriptedPrompt prompt;
    prompt.Answer(PromptAnswer::Retry).Answer(PromptAnswer::Cancel);
    RemoveClientSettings(install_.string(), prompt);
    Freeze(documents_ / "Veldmoor", false);

    ASSERT_EQ(prompt.messages.size(), 2U);
    EXPECT_EQ(prompt.messages[0].text, kSettingsNotMoved);
    EXPECT_EQ(prompt.messages[0].caption, "Fehler");
    EXPECT_EQ(prompt.messages[0].buttons, PromptButtons::RetryCancel);
    EXPECT_EQ(prompt.messages[0].icon, PromptIcon::Warning);
    EXPECT_TRUE(fs::exists(settings));
    // Giving up on the settings ends the repair: the configuration file stays.
    EXPECT_TRUE(fs::exists(install_ / "uo.cfg"));
}

TEST_F(SettingsRepair, RetryMovesTheSettingsOnceTheyAreFree) {
    const fs::path settings = MakeSettings();
    if (!Freeze(documents_ / "Veldmoor", true)) {
        GTEST_SKIP() << "this file system cannot make a folder unchangeable for the superuser";
    }
    ActingPrompt prompt;
    prompt.onMessage = [&] { Freeze(documents_ / "Veldmoor", false); };
    prompt.Answer(PromptAnswer::Retry);
    RemoveClientSettings(install_.string(), prompt);
    Freeze(documents_ / "Veldmoor", false);
    EXPECT_EQ(prompt.messages.size(), 1U);
    EXPECT_FALSE(fs::exists(settings));
    EXPECT_EQ(Backups().size(), 1U);
}

// Records what the repair actions ask of the system.
class RecordingOperations : public RepairOperations {
public:
    bool access = true;
    std::vector<std::string> calls;
    bool HasFolderAccess(const std::string& folder) override {
        calls.push_back("access " + folder);
        return access;
    }
    Status WriteExePath(const std::string& clientPath) override {
        calls.push_back("registry " + clientPath);
        return Status::Failed("the registry is not written in this test");
    }
    bool ResetFolderRights(const std::string& folder) override {
        calls.push_back("rights " + folder);
        return false;
    }
};

TEST_F(SettingsRepair, AllActionsRunInOrderOnTheFolder) {
    MakeSettings();
    WriteFile(install_ / "uo.cfg", "x");
    RecordingOperations operations;
    ScriptedPrompt prompt;
    prompt.Answer(PromptAnswer::Ok);
    EXPECT_FALSE(
        RunRepairActions(RepairRequest{install_.string(), true, true, true}, operations, prompt));
    const std::string folder = install_.string();
    EXPECT_EQ(operations.calls,
              (std::vector<std::string>{"access " + folder,
                                        "registry " + (install_ / "client.exe").string(),
                                        "rights " + folder}));
    EXPECT_FALSE(fs::exists(install_ / "uo.cfg"));
    EXPECT_EQ(Backups().size(), 1U);
    // A registry entry that was not written is told (and is no success); a failed rights step
    // is not: the patch run checks the folder's access again.
    ASSERT_EQ(prompt.messages.size(), 1U);
    EXPECT_EQ(prompt.messages[0].text,
              ComposeRegistryWriteFailed((install_ / "client.exe").string()).text);
}

TEST_F(SettingsRepair, OnlyTheChosenActionsRun) {
    RecordingOperations operations;
    ScriptedPrompt prompt;
    RunRepairActions(RepairRequest{install_.string(), false, true, false}, operations, prompt);
    EXPECT_EQ(operations.calls, (std::vector<std::string>{"access " + install_.string(),
                                                          "rights " + install_.string()}));
}

TEST_F(SettingsRepair, AMissingFolderOrOneWithoutAccessGetsNoRepair) {
    MakeSettings();
    RecordingOperations operations;
    ScriptedPrompt prompt;
    for (int i = 0; i < 4; ++i)
        prompt.Answer(PromptAnswer::Ok);
    EXPECT_FALSE(RunRepairActions(RepairRequest{(install_ / "missing").string(), true, true, true},
                                  operations, prompt));
    EXPECT_FALSE(RunRepairActions(RepairRequest{"", true, true, true}, operations, prompt));
    WriteFile(install_ / "plain", "a file, not a folder");
    EXPECT_FALSE(RunRepairActions(RepairRequest{(install_ / "plain").string(), true, true, true},
                                  operations, prompt));
    EXPECT_TRUE(operations.calls.empty());

    operations.access = false;
    EXPECT_FALSE(
        RunRepairActions(RepairRequest{install_.string(), true, true, true}, operations, prompt));
    EXPECT_EQ(operations.calls, (std::vector<std::string>{"access " + install_.string()}));
    EXPECT_TRUE(Backups().empty());
    // The registry entry asked for was not written: each time the person is told so.
    ASSERT_EQ(prompt.messages.size(), 4U);
    EXPECT_EQ(prompt.messages[3].text.rfind(ComposeRegistryWriteFailed("").text, 0), 0U);
    // Without the registry asked for, the skipped repair tells nothing.
    EXPECT_TRUE(
        RunRepairActions(RepairRequest{install_.string(), false, true, true}, operations, prompt));
    EXPECT_EQ(prompt.messages.size(), 4U);
}

}  // namespace
}  // namespace veldmoor

namespace veldmoor {
namespace {

TEST(SettingsFolder, IsInTheDocumentsFolder) {
    const testing::ScopedEnv documents("VELDMOOR_DOCUMENTS_DIR", "/home/player/Dokumente/");
    const testing::ScopedEnv onBehalf("PKEXEC_UID", std::nullopt);
    EXPECT_EQ(ClientSettingsFolder(), "/home/player/Dokumente/Veldmoor/Einstellungen");
}

TEST(SettingsFolder, ARepairRunAsRootForSomeoneUsesTheirDocuments) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only the superuser runs on someone else's behalf";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const testing::ScopedEnv documents("VELDMOOR_DOCUMENTS_DIR", std::nullopt);
    const testing::ScopedEnv onBehalf("PKEXEC_UID", std::to_string(nobody->pw_uid));
    EXPECT_EQ(ClientSettingsFolder(),
              std::string(nobody->pw_dir) + "/Documents/Veldmoor/Einstellungen");
}

}  // namespace
}  // namespace veldmoor
