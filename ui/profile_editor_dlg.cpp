#include "ui/profile_editor_dlg.h"

#include <wx/filedlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <filesystem>
#include <utility>

#include "system/path.h"
#include "ui/dialog_units.h"
#include "ui/wx_prompt.h"

namespace veldmoor {

namespace {

constexpr char kClientProgram[] = "client.exe";
constexpr char kMessageCaption[] = "Veldmoor Launcher";

std::string ClientPathOf(const std::string& patchPath) {
    return std::string(patchPath) + kPathSeparator + kClientProgram;
}

bool IsClientPath(const std::string& program, const std::string& patchPath) {
    return EqualsNoCase(program, ClientPathOf(patchPath)) ||
           EqualsNoCase(program, patchPath + "\\" + kClientProgram);
}

std::optional<std::string> PickProgramFile(wxWindow* owner) {
    wxFileDialog picker(owner, wxString::FromUTF8("Anwendung wählen"), wxString(), wxString(),
                        wxFileSelectorDefaultWildcardStr, wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (picker.ShowModal() != wxID_OK)
        return std::nullopt;
    return ToUtf8(picker.GetPath());
}

}  // namespace

CPatchContextDefDlg::CPatchContextDefDlg(wxWindow* parent, PatchContextList& profileList,
                                         TargetFolderChooser folderChooser,
                                         ProgramChooser programChooser)
    : wxDialog(parent, wxID_ANY, "Profileinstellungen", wxDefaultPosition,
               DialogUnits().Size(316, 183), wxDEFAULT_DIALOG_STYLE),
      profiles(profileList),
      chooseFolder(std::move(folderChooser)),
      chooseProgram(programChooser ? std::move(programChooser) : ProgramChooser(PickProgramFile)) {
    SetFont(DialogFont());
    const DialogUnits du;
    auto label = [&](const char* text, int x, int y, int w) {
        new wxStaticText(this, wxID_ANY, wxString::FromUTF8(text), du.Point(x, y), du.Size(w, 8));
    };
    list = new wxListBox(this, kIdEditorList, du.Point(7, 7), du.Size(100, 150));

    new wxStaticBox(this, wxID_ANY, "Eigenschaften", du.Point(113, 3), du.Size(196, 154));
    label("Name:", 120, 17, 62);
    nameEdit = new wxTextCtrl(this, kIdEditorName, wxString(), du.Point(184, 15), du.Size(118, 12));
    nameEdit->SetMaxLength(kProfileNameLimit);
    label("Repo-Pfad:", 120, 33, 62);
    repoEdit = new wxTextCtrl(this, kIdEditorRepo, wxString(), du.Point(184, 31), du.Size(118, 12));
    repoEdit->SetMaxLength(kProfilePathLimit);
    label("Lokaler Pfad:", 120, 49, 62);
    patchPathEdit = new wxTextCtrl(this, kIdEditorPatchPath, wxString(), du.Point(184, 47),
                                   du.Size(98, 12), wxTE_READONLY);
    auto* browse = new wxButton(this, kIdEditorBrowse, "...", du.Point(285, 47), du.Size(17, 12),
                                wxBU_EXACTFIT);

    new wxStaticBox(this, wxID_ANY, "Aktionen", du.Point(117, 64), du.Size(188, 89));
    autoPatchBox =
        new wxCheckBox(this, kIdEditorAutoPatch, "Automatisch Patchen:", du.Point(122, 76),
                       du.Size(110, 10), wxALIGN_RIGHT);
    registryBox =
        new wxCheckBox(this, kIdEditorRegistry, "Registry-Einstellung setzen:", du.Point(122, 89),
                       du.Size(110, 10), wxALIGN_RIGHT);
    label("Nach Patch:", 122, 104, 60);
    clientRadio = new wxRadioButton(this, kIdEditorClient, "Client starten", du.Point(184, 103),
                                    wxDefaultSize, wxRB_GROUP);
    nothingRadio = new wxRadioButton(this, kIdEditorNothing, "Nichts tun", du.Point(184, 114));
    otherRadio =
        new wxRadioButton(this, kIdEditorOther, "anderes Programm starten:", du.Point(184, 125));
    programEdit = new wxTextCtrl(this, kIdEditorProgram, wxString(), du.Point(184, 137),
                                 du.Size(116, 12), wxTE_READONLY);

    deleteButton = new wxButton(this, kIdEditorDelete, wxString::FromUTF8("Löschen"),
                                du.Point(7, 162), du.Size(48, 14));
    saveButton =
        new wxButton(this, kIdEditorSave, "Speichern", du.Point(113, 162), du.Size(45, 14));
    saveNewButton = new wxButton(this, kIdEditorSaveNew, "Als neues Profil speichern",
                                 du.Point(161, 162), du.Size(94, 14));
    closeButton = new wxButton(this, kIdEditorClose, wxString::FromUTF8("Schließen"),
                               du.Point(259, 162), du.Size(50, 14));
    deleteButton->Disable();
    saveButton->Disable();

    nameEdit->SetToolTip("Gib hier einen beliebigen Namen an");
    repoEdit->SetToolTip("Die URL von der die Patchdaten bezogen werden");
    patchPathEdit->SetToolTip("Der Pfad an den das Spiel installiert wird");
    browse->SetToolTip(wxString::FromUTF8("Pfad an den das Spiel installiert wird wählen"));
    programEdit->SetToolTip(wxString::FromUTF8("Pfad der auszuführenden Anwendung"));
    autoPatchBox->SetToolTip("Aktivieren um den Startvorgang automatisch einzuleiten");
    registryBox->SetToolTip(
        "Aktivieren um die Registrierung zu setzen (Adminrechte erforderlich!)");

    list->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { OnListSelection(); });
    nameEdit->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { MarkModified(); });
    repoEdit->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { MarkModified(); });
    for (wxWindow* control :
         {static_cast<wxWindow*>(autoPatchBox), static_cast<wxWindow*>(registryBox)})
        control->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { MarkModified(); });
    clientRadio->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { MarkModified(); });
    nothingRadio->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { MarkModified(); });
    otherRadio->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnChooseProgram(); });
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseFolder(); }, kIdEditorBrowse);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnSave(); }, kIdEditorSave);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnSaveAsNew(); }, kIdEditorSaveNew);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnDelete(); }, kIdEditorDelete);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnCloseButton(); }, kIdEditorClose);
    // Enter and Escape end the editor as the toolkit's default confirm and cancel do: without
    // the leave question and without writing the file; what was stored stays in memory.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) { OnKey(event); });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
        if (ConfirmLeave())
            Finish(wxID_CANCEL);
    });

    FillList();
}

void CPatchContextDefDlg::FillList() {
    const int selected = list->GetSelection();
    list->Clear();
    for (std::size_t i = 0; i < profiles.Count(); ++i)
        list->Append(wxString::FromUTF8(profiles.At(i)->Name.str()));
    if (profiles.Count() > 0 && selected != wxNOT_FOUND &&
        static_cast<std::size_t>(selected) < profiles.Count()) {
        list->SetSelection(selected);
    } else {
        deleteButton->Disable();
        saveButton->Disable();
    }
}

void CPatchContextDefDlg::MarkModified() {
    modified = true;
    saveButton->Enable(shownIndex != -1);
}

int CPatchContextDefDlg::ClientChoice() const {
    if (otherRadio->GetValue())
        return 2;
    if (nothingRadio->GetValue())
        return 1;
    return 0;
}

void CPatchContextDefDlg::SetClientChoice(int choice) {
    clientRadio->SetValue(choice == 0);
    nothingRadio->SetValue(choice == 1);
    otherRadio->SetValue(choice == 2);
}

void CPatchContextDefDlg::OnListSelection() {
    ShowProfile(list->GetSelection());
}

void CPatchContextDefDlg::ShowProfile(int index) {
    const int previous = shownIndex;
    shownIndex = index;
    if (index == wxNOT_FOUND) {
        shownIndex = -1;
        saveButton->Disable();
        return;
    }
    if (previous >= 0) {
        list->SetSelection(previous);
        if (!ConfirmLeave()) {
            shownIndex = previous;
            return;
        }
        // Leaving may have renamed or stored the previous profile; the new row is still valid.
        if (static_cast<std::size_t>(index) >= profiles.Count())
            return;
        list->SetSelection(index);
    }
    const PatchContext* record = profiles.At(static_cast<std::size_t>(index));
    if (record == nullptr)
        return;
    deleteButton->Enable();
    nameEdit->ChangeValue(wxString::FromUTF8(record->Name.str()));
    repoEdit->ChangeValue(wxString::FromUTF8(record->RepoPath.str()));
    patchPathEdit->ChangeValue(wxString::FromUTF8(record->PatchPath.str()));
    int choice = 0;
    if (record->ExecuteAfterPatch.empty()) {
        choice = record->PatchPath.empty() ? 0 : 1;
        programEdit->ChangeValue(wxString());
    } else if (IsClientPath(record->ExecuteAfterPatch.str(), record->PatchPath.str())) {
        choice = 0;
        programEdit->ChangeValue(wxString());
    } else {
        choice = 2;
        programEdit->ChangeValue(wxString::FromUTF8(record->ExecuteAfterPatch.str()));
    }
    SetClientChoice(choice);
    autoPatchBox->SetValue(record->AutoPatch);
    registryBox->SetValue(record->SetRegistryPath);
    modified = false;
    saveButton->Disable();
}

bool CPatchContextDefDlg::ReadFields(PatchContext& record) {
    const std::string name = ToUtf8(nameEdit->GetValue());
    const std::string repo = ToUtf8(repoEdit->GetValue());
    const std::string patchPath = ToUtf8(patchPathEdit->GetValue());
    const char* failure = nullptr;
    if (name.empty())
        failure = "Es muss ein Name eingetragen sein.";
    else if (repo.empty())
        failure = "Es muss ein Repository-Pfad eingetragen sein.";
    else if (patchPath.empty())
        failure = "Es muss ein Patchpfad eingetragen sein.";
    if (failure != nullptr) {
        ShowMessageBox(this, failure, kMessageCaption, PromptButtons::Ok, PromptIcon::None);
        return false;
    }
    record.Name = name;
    record.RepoPath = repo;
    record.PatchPath = patchPath;
    record.AutoPatch = autoPatchBox->GetValue();
    record.SetRegistryPath = registryBox->GetValue();
    switch (ClientChoice()) {
        case 0:
            record.ExecuteAfterPatch = ClientPathOf(record.PatchPath.str());
            break;
        case 1:
            record.ExecuteAfterPatch = "";
            break;
        default:
            record.ExecuteAfterPatch = ToUtf8(programEdit->GetValue());
            break;
    }
    // The fields show what was stored (limits applied).
    nameEdit->ChangeValue(wxString::FromUTF8(record.Name.str()));
    repoEdit->ChangeValue(wxString::FromUTF8(record.RepoPath.str()));
    patchPathEdit->ChangeValue(wxString::FromUTF8(record.PatchPath.str()));
    modified = false;
    saveButton->Disable();
    return true;
}

void CPatchContextDefDlg::OnSave() {
    const int selected = list->GetSelection();
    if (selected == wxNOT_FOUND)
        return;
    PatchContext* record = profiles.At(static_cast<std::size_t>(selected));
    if (record == nullptr)
        return;
    PatchContext edited = *record;
    const bool saveHadFocus = FindFocus() == saveButton;
    if (ReadFields(edited)) {
        *record = edited;
        FillList();
    }
    // Saving disables "Speichern": keyboard work goes on in the list, not on a dead button.
    if (saveHadFocus && !saveButton->IsEnabled())
        list->SetFocus();
}

void CPatchContextDefDlg::OnSaveAsNew() {
    PatchContext record;
    if (!ReadFields(record))
        return;
    profiles.Add(record);
    FillList();
    const int last = static_cast<int>(profiles.Count()) - 1;
    list->SetSelection(last);
    ShowProfile(last);
}

void CPatchContextDefDlg::OnDelete() {
    const int selected = list->GetSelection();
    if (selected == wxNOT_FOUND) {
        FillList();
        return;
    }
    const PatchContext* record = profiles.At(static_cast<std::size_t>(selected));
    if (record == nullptr)
        return;
    const std::string question =
        "Möchtest du das Profil '" + record->Name.str() + "' wirklich löschen?";
    if (ShowMessageBox(this, question, "Löschen des Profils", PromptButtons::YesNo,
                       PromptIcon::Information) != PromptAnswer::Yes)
        return;
    profiles.Remove(static_cast<std::size_t>(selected));
    nameEdit->ChangeValue(wxString());
    repoEdit->ChangeValue(wxString());
    patchPathEdit->ChangeValue(wxString());
    programEdit->ChangeValue(wxString());
    autoPatchBox->SetValue(false);
    registryBox->SetValue(false);
    SetClientChoice(0);
    list->SetSelection(wxNOT_FOUND);
    deleteButton->Disable();
    saveButton->Disable();
    shownIndex = -1;
    modified = false;
    FillList();
}

void CPatchContextDefDlg::OnBrowseFolder() {
    if (chooseFolder) {
        WxPrompt prompt(this);
        const TargetFolderChoice choice = chooseFolder(ToUtf8(patchPathEdit->GetValue()), prompt);
        if (choice.pickerCancelled)
            return;
        if (choice.folder)
            patchPathEdit->ChangeValue(wxString::FromUTF8(*choice.folder));
    }
    MarkModified();
}

void CPatchContextDefDlg::OnChooseProgram() {
    const std::optional<std::string> program = chooseProgram(this);
    std::error_code error;
    if (program && std::filesystem::exists(*program, error) &&
        !std::filesystem::is_directory(*program, error)) {
        programEdit->ChangeValue(wxString::FromUTF8(*program));
    } else {
        SetClientChoice(0);
    }
    MarkModified();
}

bool CPatchContextDefDlg::ConfirmLeave() {
    if (modified && list->GetSelection() != wxNOT_FOUND) {
        const PromptAnswer answer = ShowMessageBox(
            this, "Sollen deine Änderungen gespeichert werden?", "Änderungen speichern",
            PromptButtons::YesNoCancel, PromptIcon::Information);
        if (answer == PromptAnswer::Yes) {
            OnSave();
            profiles.Save();
            return !modified;
        }
        if (answer == PromptAnswer::Cancel) {
            profiles.Save();
            return false;
        }
    }
    profiles.Save();
    return true;
}

void CPatchContextDefDlg::OnCloseButton() {
    if (ConfirmLeave())
        Finish(wxID_OK);
}

void CPatchContextDefDlg::Finish(int result) {
    // Shown without ShowModal (tests), the dialog is hidden with the same result.
    if (IsModal()) {
        EndModal(result);
    } else {
        SetReturnCode(result);
        Hide();
    }
}

void CPatchContextDefDlg::OnKey(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
        case WXK_ESCAPE:
            Finish(wxID_CANCEL);
            return;
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER:
            // On a focused button Enter presses that button, as everywhere else.
            if (dynamic_cast<wxButton*>(FindFocus()) != nullptr) {
                event.Skip();
                return;
            }
            Finish(wxID_OK);
            return;
        default:
            event.Skip();
    }
}

}  // namespace veldmoor
