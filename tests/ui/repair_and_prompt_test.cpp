// The repair dialog's boxes, warning and the two ways it runs the repairs, and the message
// boxes of the window's Prompt.
#include <gtest/gtest.h>
#include <wx/dirdlg.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <filesystem>

#include "app/launcher_dialog_entry.h"
#include "system/repair_operations.h"
#include "tests/support/fake_wine.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_support.h"
#include "tests/workflow/recording_platform.h"
#include "ui/repair_dlg.h"
#include "ui/report_texts.h"
#include "ui/wx_prompt.h"

namespace veldmoor {
namespace {

class RecordingRepairOperations : public RepairOperations {
public:
    bool HasFolderAccess(const std::string&) override { return true; }
    Status WriteExePath(const std::string& clientPath) override {
        written.push_back(clientPath);
        return {};
    }
    bool ResetFolderRights(const std::string& folder) override {
        reset.push_back(folder);
        return true;
    }
    std::vector<std::string> written;
    std::vector<std::string> reset;
};

class RepairDlgTest : public ::testing::Test {
protected:
    RepairDlgTest() : documents_("VELDMOOR_DOCUMENTS_DIR", temp_ / "documents") {
        std::filesystem::create_directories(temp_ / "game");
        std::filesystem::create_directories(temp_ / "documents/Veldmoor/Einstellungen");
        test::WriteTestFile(temp_ / "game/uo.cfg", "settings");
    }
    ~RepairDlgTest() override {
        if (dialog_ != nullptr)
            dialog_->Destroy();
        uitest::Pump();
    }
    CRepairDlg& Open() {
        dialog_ = new CRepairDlg(nullptr, temp_ / "game", operations_, platform_);
        dialog_->Show();
        uitest::Pump();
        return *dialog_;
    }
    void Click(wxCheckBox* box) {
        box->SetValue(!box->GetValue());
        dialog_->OnBoxClicked(box->GetId());
    }

    test::TempDir temp_{"veldmoor-repair"};
    testing::ScopedEnv documents_;
    RecordingRepairOperations operations_;
    testing::RecordingPlatform platform_;
    uitest::ScriptedBoxes boxes_;
    CRepairDlg* dialog_ = nullptr;
};

TEST_F(RepairDlgTest, ProceedIsEnabledExactlyWhileABoxIsChecked) {
    CRepairDlg& dialog = Open();
    EXPECT_FALSE(dialog.proceedButton->IsEnabled());
    Click(dialog.settingsBox);
    EXPECT_TRUE(dialog.proceedButton->IsEnabled());
    Click(dialog.registryBox);
    Click(dialog.settingsBox);
    EXPECT_TRUE(dialog.proceedButton->IsEnabled());
    Click(dialog.registryBox);
    EXPECT_FALSE(dialog.proceedButton->IsEnabled());
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(RepairDlgTest, TheRightsBoxWarnsWithTheFolderAndCancelUnchecksIt) {
    CRepairDlg& dialog = Open();
    boxes_.Answer(wxID_CANCEL);
    Click(dialog.rightsBox);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].caption, "Achtung");
    EXPECT_NE(boxes_.boxes[0].text.find("\r\n\r\n" + (temp_ / "game") + "\r\n\r\n"),
              std::string::npos);
    EXPECT_TRUE(boxes_.boxes[0].style & wxICON_EXCLAMATION);
    EXPECT_FALSE(dialog.rightsBox->GetValue());
    EXPECT_FALSE(dialog.proceedButton->IsEnabled());

    boxes_.Answer(wxID_OK);
    Click(dialog.rightsBox);
    EXPECT_TRUE(dialog.rightsBox->GetValue());
    EXPECT_TRUE(dialog.proceedButton->IsEnabled());
}

TEST_F(RepairDlgTest, SettingsAloneRunInThisProcessAndReportCompletion) {
    CRepairDlg& dialog = Open();
    Click(dialog.settingsBox);
    boxes_.Answer(wxID_OK);
    dialog.OnProceed();
    EXPECT_TRUE(platform_.elevatedRuns.empty());
    EXPECT_FALSE(std::filesystem::exists(temp_ / "documents/Veldmoor/Einstellungen"));
    EXPECT_FALSE(std::filesystem::exists(temp_ / "game/uo.cfg"));
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].caption, "Abgeschlossen");
    EXPECT_EQ(boxes_.boxes[0].text, "Reparaturoperationen abgeschlossen.");
}

TEST_F(RepairDlgTest, RegistryAndSettingsWithoutRightsStartOneElevatedLauncher) {
    CRepairDlg& dialog = Open();
    Click(dialog.registryBox);
    Click(dialog.settingsBox);
    boxes_.Answer(wxID_OK);
    dialog.OnProceed();
    ASSERT_EQ(platform_.elevatedRuns.size(), 1u);
    EXPECT_EQ(platform_.elevatedRuns[0],
              (std::vector<std::string>{"-repair", temp_ / "game", "-rreg", "-rconfig"}));
    EXPECT_TRUE(operations_.written.empty());
    // The elevated launcher does the settings repair; this process left them alone.
    EXPECT_TRUE(std::filesystem::exists(temp_ / "game/uo.cfg"));
    EXPECT_EQ(boxes_.boxes.size(), 1u);
}

TEST_F(RepairDlgTest, AnElevatedLauncherRunsTheSameChoiceItself) {
    platform_.elevated = true;
    CRepairDlg& dialog = Open();
    Click(dialog.registryBox);
    boxes_.Answer(wxID_OK);
    dialog.OnProceed();
    EXPECT_TRUE(platform_.elevatedRuns.empty());
    ASSERT_EQ(operations_.written.size(), 1u);
    EXPECT_EQ(operations_.written[0], (temp_ / "game") + "/client.exe");
}

// The check of the game files is the main window's run: the dialog runs the other repairs
// chosen with it, closes without telling completion (the run tells its own) and says it was chosen.
TEST_F(RepairDlgTest, CheckingTheGameFilesIsLeftToTheMainWindow) {
    CRepairDlg& dialog = Open();
    Click(dialog.verifyBox);
    EXPECT_TRUE(dialog.proceedButton->IsEnabled());
    EXPECT_FALSE(dialog.VerifyGameFilesChosen());
    Click(dialog.settingsBox);
    dialog.OnProceed();
    EXPECT_TRUE(dialog.VerifyGameFilesChosen());
    EXPECT_FALSE(std::filesystem::exists(temp_ / "game/uo.cfg"));
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_FALSE(dialog.IsShown());
}

// Where the registry is the person's own (Linux: their Wine prefix), the dialog writes it itself
// and reports completion only when the entry was written.
TEST_F(RepairDlgTest, ThePersonsOwnRegistryIsWrittenHereAndAFailedWriteIsNoSuccess) {
    const testing::FakeWine wine;
    const std::unique_ptr<RepairOperations> system = MakeSystemRepairOperations();
    platform_.registryNeedsElevation = false;
    dialog_ = new CRepairDlg(nullptr, temp_ / "game", *system, platform_);
    dialog_->Show();
    uitest::Pump();
    Click(dialog_->registryBox);
    boxes_.Answer(wxID_OK);
    dialog_->OnProceed();
    EXPECT_TRUE(platform_.elevatedRuns.empty());
    EXPECT_EQ(
        wine.StoredExePath(), "Z:" + [&] {
            std::string windows = temp_ / "game/client.exe";
            std::replace(windows.begin(), windows.end(), '/', '\\');
            return windows;
        }());
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, "Reparaturoperationen abgeschlossen.");

    wine.FailWrites();
    dialog_->Destroy();
    dialog_ = new CRepairDlg(nullptr, temp_ / "game", *system, platform_);
    dialog_->Show();
    uitest::Pump();
    boxes_.Answer(wxID_OK);
    boxes_.Answer(wxID_OK);
    Click(dialog_->registryBox);
    Click(dialog_->rightsBox);
    ASSERT_TRUE(dialog_->rightsBox->GetValue());
    dialog_->OnProceed();
    // Only the rights repair needs the elevated launcher; the registry stays with the person.
    EXPECT_EQ(platform_.elevatedRuns,
              (std::vector<std::vector<std::string>>{{"-repair", temp_ / "game", "-rrights"}}));
    ASSERT_EQ(boxes_.boxes.size(), 3u);  // the rights warning, then the failure
    EXPECT_EQ(boxes_.boxes[2].text, ComposeRegistryWriteFailed(temp_ / "game/client.exe").text);
    EXPECT_TRUE(dialog_->IsShown());
    EXPECT_EQ(boxes_.unexpected, 0);
}

// The picker lets the person make the folder the game goes into and says what is chosen.
TEST(WxPromptTest, TheFolderPickerCanMakeAFolderAndSaysWhatIsChosen) {
    test::TempDir start("veldmoor-picker");
    uitest::ScriptedBoxes boxes;
    long style = 0;
    std::string title;
    boxes.handle = [&](wxDialog* dialog) {
        auto* picker = dynamic_cast<wxDirDialog*>(dialog);
        if (picker == nullptr)
            return wxID_NONE;
        style = picker->GetWindowStyleFlag();
        title = std::string(picker->GetMessage().utf8_str());
        return wxID_CANCEL;
    };
    std::unique_ptr<Prompt> prompt = CreateDesktopPrompt();
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->PickFolder("Ordner wählen", start.path()), std::nullopt);
    EXPECT_EQ(title, "Ordner wählen");
    EXPECT_EQ(style & wxDD_DIR_MUST_EXIST, 0);
}

TEST(WxPromptTest, BoxesCarryTheirCaptionIconAndAnswer) {
    uitest::ScriptedBoxes boxes;
    std::unique_ptr<Prompt> prompt = CreateDesktopPrompt();
    ASSERT_NE(prompt, nullptr);
    boxes.Answer(wxID_YES);
    EXPECT_EQ(
        prompt->ShowMessage("Nochmal?", "Fehler", PromptButtons::RetryCancel, PromptIcon::Warning),
        PromptAnswer::Retry);
    boxes.Answer(wxID_CANCEL);
    EXPECT_EQ(
        prompt->ShowMessage("Nochmal?", "Fehler", PromptButtons::RetryCancel, PromptIcon::Warning),
        PromptAnswer::Cancel);
    boxes.Answer(wxID_NO);
    EXPECT_EQ(prompt->ShowMessage("Speichern?", "Frage", PromptButtons::YesNoCancel,
                                  PromptIcon::Information),
              PromptAnswer::No);
    // A box closed without a button gives the cautious answer.
    boxes.Answer(wxID_CANCEL);
    EXPECT_EQ(prompt->ShowMessage("Löschen?", "Frage", PromptButtons::YesNo, PromptIcon::None),
              PromptAnswer::No);
    ASSERT_EQ(boxes.boxes.size(), 4u);
    EXPECT_EQ(boxes.boxes[0].caption, "Fehler");
    EXPECT_TRUE(boxes.boxes[0].style & wxICON_WARNING);
    EXPECT_EQ(boxes.boxes[3].text, "Löschen?");
    EXPECT_TRUE(boxes.boxes[3].style & wxICON_NONE);
}

}  // namespace
}  // namespace veldmoor
