// The profile editor on a real profile list in a temporary folder; its message boxes are
// answered by script.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_support.h"
#include "tests/ui/window_manager.h"
#include "ui/profile_editor_dlg.h"

namespace veldmoor {
namespace {

class ProfileEditorTest : public ::testing::Test {
protected:
    ProfileEditorTest() : profiles_(temp_.path()) {
        std::filesystem::create_directories(temp_ / "game");
        std::filesystem::create_directories(temp_ / "other");
        PatchContext first;
        first.Name = "Veldmoor";
        first.PatchPath = temp_ / "game";
        first.RepoPath = "https://sync.veldmoor.example/srv/";
        first.ExecuteAfterPatch = temp_ / "game/CLIENT.EXE";
        first.AutoPatch = true;
        profiles_.Add(first);
        PatchContext second;
        second.Name = "Baustelle";
        second.PatchPath = temp_ / "other";
        second.RepoPath = "https://sync.veldmoor.example/bau/";
        profiles_.Add(second);
    }

    CPatchContextDefDlg& Open() {
        editor_ = new CPatchContextDefDlg(
            nullptr, profiles_,
            [this](const std::string&, Prompt&) {
                TargetFolderChoice choice;
                choice.folder = nextFolder_;
                choice.pickerCancelled = !nextFolder_.has_value();
                return choice;
            },
            [this](wxWindow*) { return nextProgram_; });
        editor_->Show();
        uitest::Pump();
        return *editor_;
    }

    void Select(int row) {
        editor_->list->SetSelection(row);
        editor_->OnListSelection();
    }

    void Type(wxTextCtrl* field, const char* text) {
        field->SetValue(wxString::FromUTF8(text));  // sends the change notification
    }

    bool FileExists() const { return std::filesystem::exists(temp_ / "profiles.xml"); }

    std::string Saved(std::size_t index) {
        PatchContextList reread(temp_.path());
        reread.Load();
        return reread.At(index) != nullptr ? reread.At(index)->Name.str() : "<none>";
    }

    ~ProfileEditorTest() override {
        if (editor_ != nullptr)
            editor_->Destroy();
        uitest::Pump();
    }

    test::TempDir temp_{"veldmoor-editor"};
    PatchContextList profiles_;
    uitest::ScriptedBoxes boxes_;
    std::optional<std::string> nextFolder_;
    std::optional<std::string> nextProgram_;
    CPatchContextDefDlg* editor_ = nullptr;
};

TEST_F(ProfileEditorTest, OpensWithNothingShownAndShowsAProfileWithItsAfterPatchChoice) {
    CPatchContextDefDlg& editor = Open();
    EXPECT_EQ(editor.list->GetCount(), 2u);
    EXPECT_EQ(editor.ShownIndex(), -1);
    EXPECT_FALSE(editor.deleteButton->IsEnabled());
    EXPECT_FALSE(editor.saveButton->IsEnabled());

    Select(0);
    EXPECT_EQ(editor.ShownIndex(), 0);
    EXPECT_EQ(editor.nameEdit->GetValue(), "Veldmoor");
    // The installation folder reads from its start, and whole in its tooltip.
    EXPECT_EQ(editor.patchPathEdit->GetInsertionPoint(), 0);
    EXPECT_EQ(std::string(editor.patchPathEdit->GetToolTipText().utf8_str()), temp_ / "game");
    // The client's path in capitals still counts as "Client starten".
    EXPECT_TRUE(editor.clientRadio->GetValue());
    EXPECT_TRUE(editor.programEdit->GetValue().empty());
    EXPECT_TRUE(editor.autoPatchBox->GetValue());
    EXPECT_TRUE(editor.deleteButton->IsEnabled());
    EXPECT_FALSE(editor.saveButton->IsEnabled());
    EXPECT_FALSE(editor.IsModified());
    // Showing the first profile wrote nothing: there was no profile shown before.
    EXPECT_FALSE(FileExists());

    Select(1);  // nothing modified: no question, the file is written
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_TRUE(FileExists());
    EXPECT_TRUE(editor.nothingRadio->GetValue());
}

TEST_F(ProfileEditorTest, SaveStoresTheFieldsAndWritesTheClientPathInLowerCase) {
    CPatchContextDefDlg& editor = Open();
    Select(0);
    Type(editor.nameEdit, "Veldmoor Haupt");
    EXPECT_TRUE(editor.IsModified());
    EXPECT_TRUE(editor.saveButton->IsEnabled());
    editor.OnSave();
    EXPECT_FALSE(editor.IsModified());
    EXPECT_EQ(profiles_.At(0)->Name.str(), "Veldmoor Haupt");
    EXPECT_EQ(profiles_.At(0)->ExecuteAfterPatch.str(), (temp_ / "game") + "/client.exe");
    EXPECT_EQ(editor.list->GetString(0), "Veldmoor Haupt");
    // "Speichern" keeps the change in memory only.
    EXPECT_FALSE(FileExists());
}

TEST_F(ProfileEditorTest, AnEmptyNameIsRefusedAndNothingIsStored) {
    CPatchContextDefDlg& editor = Open();
    Select(0);
    Type(editor.nameEdit, "");
    boxes_.Answer(wxID_OK);
    editor.OnSave();
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, "Es muss ein Name eingetragen sein.");
    EXPECT_EQ(profiles_.At(0)->Name.str(), "Veldmoor");
    EXPECT_TRUE(editor.IsModified());
}

TEST_F(ProfileEditorTest, SaveAsNewAppendsACopyAndShowsIt) {
    CPatchContextDefDlg& editor = Open();
    Select(1);
    editor.OnSaveAsNew();
    ASSERT_EQ(profiles_.Count(), 3u);
    EXPECT_EQ(profiles_.At(2)->Name.str(), "Baustelle");
    EXPECT_EQ(profiles_.At(2)->PatchPath.str(), temp_ / "other");
    EXPECT_EQ(editor.ShownIndex(), 2);
    EXPECT_EQ(editor.list->GetSelection(), 2);
    // Leaving the shown profile (unmodified) wrote the file at once.
    EXPECT_EQ(Saved(2), "Baustelle");
}

TEST_F(ProfileEditorTest, DeleteAsksAndLeavesNoProfileShown) {
    CPatchContextDefDlg& editor = Open();
    Select(1);
    boxes_.Answer(wxID_NO);
    editor.OnDelete();
    EXPECT_EQ(profiles_.Count(), 2u);
    boxes_.Answer(wxID_YES);
    editor.OnDelete();
    ASSERT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_EQ(boxes_.boxes[1].caption, "Löschen des Profils");
    EXPECT_EQ(boxes_.boxes[1].text, "Möchtest du das Profil 'Baustelle' wirklich löschen?");
    EXPECT_EQ(profiles_.Count(), 1u);
    EXPECT_EQ(editor.ShownIndex(), -1);
    EXPECT_FALSE(editor.deleteButton->IsEnabled());
    EXPECT_TRUE(editor.nameEdit->GetValue().empty());
    EXPECT_FALSE(FileExists());
    // Closing now asks nothing and writes the file.
    editor.OnCloseButton();
    EXPECT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_EQ(Saved(0), "Veldmoor");
}

TEST_F(ProfileEditorTest, CancelOnLeavingKeepsTheEditedProfileButWritesTheFile) {
    CPatchContextDefDlg& editor = Open();
    Select(0);
    Type(editor.nameEdit, "Geändert");
    boxes_.Answer(wxID_CANCEL);
    Select(1);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].caption, "Änderungen speichern");
    EXPECT_EQ(boxes_.boxes[0].text, "Sollen deine Änderungen gespeichert werden?");
    EXPECT_EQ(editor.ShownIndex(), 0);
    EXPECT_EQ(editor.list->GetSelection(), 0);
    EXPECT_EQ(editor.nameEdit->GetValue(), wxString::FromUTF8("Geändert"));
    EXPECT_TRUE(FileExists());
    EXPECT_EQ(Saved(0), "Veldmoor");
}

TEST_F(ProfileEditorTest, YesOnLeavingStoresAndWritesOrStaysWhenTheFieldsAreIncomplete) {
    CPatchContextDefDlg& editor = Open();
    Select(0);
    Type(editor.nameEdit, "");
    boxes_.Answer(wxID_YES);
    boxes_.Answer(wxID_OK);  // the missing name
    Select(1);
    EXPECT_EQ(editor.ShownIndex(), 0);
    ASSERT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_EQ(boxes_.boxes[1].text, "Es muss ein Name eingetragen sein.");

    Type(editor.nameEdit, "Neu");
    boxes_.Answer(wxID_YES);
    Select(1);
    EXPECT_EQ(editor.ShownIndex(), 1);
    EXPECT_EQ(Saved(0), "Neu");
}

TEST_F(ProfileEditorTest, AProgramThatIsNotAFileFallsBackToTheClient) {
    CPatchContextDefDlg& editor = Open();
    Select(1);
    nextProgram_ = temp_ / "other";  // a folder
    editor.otherRadio->SetValue(true);
    editor.OnChooseProgram();
    EXPECT_TRUE(editor.clientRadio->GetValue());
    EXPECT_TRUE(editor.IsModified());

    test::WriteTestFile(temp_ / "tool.sh", "#!/bin/sh\n");
    nextProgram_ = temp_ / "tool.sh";
    editor.otherRadio->SetValue(true);
    editor.OnChooseProgram();
    EXPECT_TRUE(editor.otherRadio->GetValue());
    editor.OnSave();
    EXPECT_EQ(profiles_.At(1)->ExecuteAfterPatch.str(), temp_ / "tool.sh");
}

TEST_F(ProfileEditorTest, TheFolderChoiceFillsTheFieldAndMarksTheEditorModified) {
    CPatchContextDefDlg& editor = Open();
    Select(0);
    nextFolder_.reset();
    editor.OnBrowseFolder();
    EXPECT_FALSE(editor.IsModified());
    nextFolder_ = temp_ / "other";
    editor.OnBrowseFolder();
    EXPECT_EQ(std::string(editor.patchPathEdit->GetValue().utf8_str()), temp_ / "other");
    EXPECT_TRUE(editor.IsModified());
}

TEST_F(ProfileEditorTest, EscapeAfterSaveKeepsTheChangeInMemoryWithoutWritingTheFile) {
    CPatchContextDefDlg& editor = Open();
    Select(0);
    Type(editor.nameEdit, "Nur im Speicher");
    editor.OnSave();
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    editor.OnKey(escape);
    EXPECT_FALSE(editor.IsShown());
    EXPECT_EQ(editor.GetReturnCode(), wxID_CANCEL);
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(profiles_.At(0)->Name.str(), "Nur im Speicher");
    EXPECT_FALSE(FileExists());
}

// Saved by keyboard, "Speichern" turns disabled: the focus goes on to the list, where Tab and
// the arrow keys still work, instead of staying on the dead button.
TEST_F(ProfileEditorTest, SavingByKeyboardLeavesTheFocusOnAnEnabledControl) {
    ASSERT_TRUE(uitest::EnsureWindowManager());
    CPatchContextDefDlg& editor = Open();
    ASSERT_TRUE(uitest::Activate(editor));
    Select(1);
    Type(editor.nameEdit, "Baustelle Neu");
    ASSERT_TRUE(editor.saveButton->IsEnabled());
    editor.saveButton->SetFocus();
    ASSERT_TRUE(uitest::PumpUntil([&] { return wxWindow::FindFocus() == editor.saveButton; }));
    ASSERT_TRUE(uitest::PressKeys("space"));
    ASSERT_TRUE(uitest::PumpUntil([&] { return !editor.saveButton->IsEnabled(); }));
    EXPECT_EQ(profiles_.At(1)->Name.str(), "Baustelle Neu");
    EXPECT_TRUE(uitest::PumpUntil([&] {
        const wxWindow* focus = wxWindow::FindFocus();
        return focus != nullptr && focus->IsEnabled() && focus != editor.saveButton;
    }));
    EXPECT_EQ(wxWindow::FindFocus(), editor.list);
}

// Enter typed in a field of a modified profile asks as "Schließen" does; whatever the answer,
// the edit is never lost: Cancel keeps the editor open with the field as typed, Yes stores it.
TEST_F(ProfileEditorTest, EnterAfterAnEditAsksAndNeverDropsTheEdit) {
    ASSERT_TRUE(uitest::EnsureWindowManager());
    struct Case {
        int answer;
        bool stillOpen;
        const char* saved;
    };
    for (const Case& c : {Case{wxID_CANCEL, true, "Veldmoor"}, Case{wxID_YES, false, "Neu"}}) {
        SCOPED_TRACE(c.answer);
        CPatchContextDefDlg& editor = Open();
        ASSERT_TRUE(uitest::Activate(editor));
        Select(0);
        Type(editor.nameEdit, "Neu");
        editor.nameEdit->SetFocus();
        ASSERT_TRUE(uitest::PumpUntil([&] { return wxWindow::FindFocus() == editor.nameEdit; }));
        boxes_.boxes.clear();
        boxes_.Answer(c.answer);
        ASSERT_TRUE(uitest::PressKeys("Return"));
        ASSERT_TRUE(uitest::PumpUntil([&] { return !boxes_.boxes.empty(); }));
        uitest::Pump();
        EXPECT_EQ(boxes_.boxes[0].text, "Sollen deine Änderungen gespeichert werden?");
        EXPECT_EQ(editor.IsShown(), c.stillOpen);
        EXPECT_EQ(editor.nameEdit->GetValue(), "Neu");
        EXPECT_EQ(Saved(0), c.saved);
        editor_->Destroy();
        editor_ = nullptr;
        uitest::Pump();
    }
}

}  // namespace
}  // namespace veldmoor
