#include "ui/profile_editor_dlg.h"

#include <wx/filedlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <filesystem>
#include <utility>

#include "system/path.h"
#include "system/product.h"
#include "system/text_encoding.h"
#include "ui/dialog_units.h"
#include "ui/fill_in.h"
#include "ui/profile_questions.h"
#include "ui/tab_order.h"
#include "ui/translate.h"
#include "ui/wx_prompt.h"

namespace veldmoor {

namespace {

std::string ClientPathOf(const std::string& patchPath) {
    return std::string(patchPath) + kPathSeparator + kGameClientFileName;
}

bool IsClientPath(const std::string& program, const std::string& patchPath) {
    return EqualsNoCase(program, ClientPathOf(patchPath)) ||
           EqualsNoCase(program, patchPath + "\\" + kGameClientFileName);
}

std::optional<std::string> PickProgramFile(wxWindow* owner) {
    wxFileDialog picker(owner, wxString::FromUTF8(tr("Anwendung wählen")), wxString(), wxString(),
                        wxFileSelectorDefaultWildcardStr, wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (picker.ShowModal() != wxID_OK)
        return std::nullopt;
    return ToUtf8(picker.GetPath());
}

// A long path reads from its start (the drive, the games folder); the whole path is its tooltip.
void ShowPathFromStart(wxTextCtrl& field, const std::string& path) {
    field.ChangeValue(wxString::FromUTF8(path));
    field.SetInsertionPoint(0);
    field.SetToolTip(path.empty()
                         ? wxString::FromUTF8(tr("Der Pfad an den das Spiel installiert wird"))
                         : wxString::FromUTF8(path));
}

}  // namespace

CPatchContextDefDlg::CPatchContextDefDlg(wxWindow* parent, PatchContextList& profileList,
                                         TargetFolderChooser folderChooser,
                                         ProgramChooser programChooser)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(tr("Profileinstellungen")), wxDefaultPosition,
               wxDefaultSize, wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      profiles(profileList),
      chooseFolder(std::move(folderChooser)),
      chooseProgram(programChooser ? std::move(programChooser) : ProgramChooser(PickProgramFile)) {
    SetFont(DialogFont());
    // Laid out by sizers: the window's client area grows to what the texts of the present font
    // need, and the title bar comes on top of that.
    const DialogUnits du;
    const int gap = du.X(4);
    list = new wxListBox(this, kIdEditorList, wxDefaultPosition, du.Size(100, 150));

    auto* properties =
        new wxStaticBoxSizer(wxVERTICAL, this, wxString::FromUTF8(tr("Eigenschaften")));
    wxWindow* box = properties->GetStaticBox();
    auto label = [&](wxWindow* parent, const std::string& text) {
        return new wxStaticText(parent, wxID_ANY, wxString::FromUTF8(text));
    };
    auto* fields = new wxFlexGridSizer(2, du.Y(4), gap);
    fields->AddGrowableCol(1);
    nameEdit = new wxTextCtrl(box, kIdEditorName, wxString(), wxDefaultPosition, du.Size(118, -1));
    nameEdit->SetMaxLength(kProfileNameLimit);
    repoEdit = new wxTextCtrl(box, kIdEditorRepo, wxString(), wxDefaultPosition, du.Size(118, -1));
    repoEdit->SetMaxLength(kProfilePathLimit);
    patchPathEdit = new wxTextCtrl(box, kIdEditorPatchPath, wxString(), wxDefaultPosition,
                                   du.Size(98, -1), wxTE_READONLY);
    browseButton =
        new wxButton(box, kIdEditorBrowse, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    auto* pathRow = new wxBoxSizer(wxHORIZONTAL);
    pathRow->Add(patchPathEdit, 1, wxALIGN_CENTER_VERTICAL);
    pathRow->Add(browseButton, 0, wxLEFT | wxALIGN_CENTER_VERTICAL, du.X(2));
    fields->Add(label(box, tr("Name:")), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(nameEdit, 1, wxEXPAND);
    fields->Add(label(box, tr("Repo-Pfad:")), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(repoEdit, 1, wxEXPAND);
    fields->Add(label(box, tr("Lokaler Pfad:")), 0, wxALIGN_CENTER_VERTICAL);
    fields->Add(pathRow, 1, wxEXPAND);
    properties->Add(fields, 0, wxEXPAND | wxALL, gap);

    auto* actions = new wxStaticBoxSizer(wxVERTICAL, box, wxString::FromUTF8(tr("Aktionen")));
    wxWindow* actionBox = actions->GetStaticBox();
    autoPatchBox = new wxCheckBox(actionBox, kIdEditorAutoPatch,
                                  wxString::FromUTF8(tr("Automatisch Patchen:")), wxDefaultPosition,
                                  wxDefaultSize, wxALIGN_RIGHT);
    registryBox = new wxCheckBox(actionBox, kIdEditorRegistry,
                                 wxString::FromUTF8(tr("Registry-Einstellung setzen:")),
                                 wxDefaultPosition, wxDefaultSize, wxALIGN_RIGHT);
    clientRadio =
        new wxRadioButton(actionBox, kIdEditorClient, wxString::FromUTF8(tr("Client starten")),
                          wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    nothingRadio =
        new wxRadioButton(actionBox, kIdEditorNothing, wxString::FromUTF8(tr("Nichts tun")));
    otherRadio = new wxRadioButton(actionBox, kIdEditorOther,
                                   wxString::FromUTF8(tr("anderes Programm starten:")));
    programEdit = new wxTextCtrl(actionBox, kIdEditorProgram, wxString(), wxDefaultPosition,
                                 du.Size(116, -1), wxTE_READONLY);
    auto* afterPatch = new wxBoxSizer(wxVERTICAL);
    for (wxWindow* control :
         {static_cast<wxWindow*>(clientRadio), static_cast<wxWindow*>(nothingRadio),
          static_cast<wxWindow*>(otherRadio)})
        afterPatch->Add(control, 0, wxBOTTOM, du.Y(1));
    afterPatch->Add(programEdit, 0, wxEXPAND);
    auto* afterRow = new wxBoxSizer(wxHORIZONTAL);
    afterRow->Add(label(actionBox, tr("Nach Patch:")), 0, wxRIGHT, gap);
    afterRow->Add(afterPatch, 1, wxEXPAND);
    actions->Add(autoPatchBox, 0, wxALL, gap);
    actions->Add(registryBox, 0, wxLEFT | wxRIGHT | wxBOTTOM, gap);
    actions->Add(afterRow, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);
    properties->Add(actions, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    auto* upper = new wxBoxSizer(wxHORIZONTAL);
    upper->Add(list, 0, wxEXPAND);
    upper->Add(properties, 1, wxEXPAND | wxLEFT, gap);

    deleteButton = new wxButton(this, kIdEditorDelete, wxString::FromUTF8(tr("Löschen")));
    saveButton = new wxButton(this, kIdEditorSave, wxString::FromUTF8(tr("Speichern")));
    saveNewButton =
        new wxButton(this, kIdEditorSaveNew, wxString::FromUTF8(tr("Als neues Profil speichern")));
    closeButton = new wxButton(this, kIdEditorClose, wxString::FromUTF8(tr("Schließen")));
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(deleteButton);
    buttons->AddStretchSpacer();
    for (wxButton* button : {saveButton, saveNewButton, closeButton})
        buttons->Add(button, 0, wxLEFT, gap);

    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(upper, 1, wxEXPAND | wxALL, du.X(7));
    top->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, du.X(7));
    SetSizerAndFit(top);
    OrderTabStopsByReading(*this);
    // Wrapped texts take their final size only once shown, and the window with them: it is
    // centred on its owner again then, as it was before.
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        if (event.IsShown() && GetParent() != nullptr)
            CallAfter([this] { CentreOnParent(); });
        event.Skip();
    });
    deleteButton->Disable();
    saveButton->Disable();

    nameEdit->SetToolTip(wxString::FromUTF8(tr("Gib hier einen beliebigen Namen an")));
    repoEdit->SetToolTip(wxString::FromUTF8(tr("Die URL von der die Patchdaten bezogen werden")));
    patchPathEdit->SetToolTip(wxString::FromUTF8(tr("Der Pfad an den das Spiel installiert wird")));
    browseButton->SetToolTip(
        wxString::FromUTF8(tr("Pfad an den das Spiel installiert wird wählen")));
    programEdit->SetToolTip(wxString::FromUTF8(tr("Pfad der auszuführenden Anwendung")));
    autoPatchBox->SetToolTip(
        wxString::FromUTF8(tr("Aktivieren um den Startvorgang automatisch einzuleiten")));
    registryBox->SetToolTip(wxString::FromUTF8(
        tr("Aktivieren um die Registrierung zu setzen (Adminrechte erforderlich!)")));

    list->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { OnListSelection(); });
    // The toolkit draws a list's chosen row alike with and without the keyboard: the list's own
    // colour says where the keyboard is.
    const wxColour listColour = list->GetBackgroundColour();
    // Bound to the list alone: focus may leave it while the editor is being destroyed.
    auto showFocus = [listColour](wxFocusEvent& event) {
        auto* focused = static_cast<wxWindow*>(event.GetEventObject());
        if (!focused->IsBeingDeleted() && !wxGetTopLevelParent(focused)->IsBeingDeleted()) {
            focused->SetBackgroundColour(event.GetEventType() == wxEVT_SET_FOCUS
                                             ? wxSystemSettings::GetColour(wxSYS_COLOUR_INFOBK)
                                             : listColour);
            focused->Refresh();
        }
        event.Skip();
    };
    list->Bind(wxEVT_SET_FOCUS, showFocus);
    list->Bind(wxEVT_KILL_FOCUS, showFocus);
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
    // Escape ends the editor as the toolkit's default cancel does: without the leave question
    // and without writing the file; what was stored stays in memory. Enter is "Schließen".
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) { OnKey(event); });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
        if (ConfirmLeave())
            Finish(wxID_CANCEL);
    });

    FillList();
    // The toolkit's list selects its first row when it gets the focus; the editor opens with
    // nothing shown, so the focus starts on "Schließen".
    closeButton->SetFocus();
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
    ShowPathFromStart(*patchPathEdit, record->PatchPath.str());
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
    std::string failure;
    if (name.empty())
        failure = tr("Es muss ein Name eingetragen sein.");
    else if (repo.empty())
        failure = tr("Es muss ein Repository-Pfad eingetragen sein.");
    else if (patchPath.empty())
        failure = tr("Es muss ein Patchpfad eingetragen sein.");
    if (!failure.empty()) {
        ShowMessageBox(this, failure, kProductName, PromptButtons::Ok, PromptIcon::None);
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
        FillIn(tr("Möchtest du das Profil '%1' wirklich löschen?"), {record->Name.str()});
    if (ShowMessageBox(this, question, tr("Löschen des Profils"), PromptButtons::YesNo,
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
    if (program && std::filesystem::exists(PathFromUtf8(*program), error) &&
        !std::filesystem::is_directory(PathFromUtf8(*program), error)) {
        programEdit->ChangeValue(wxString::FromUTF8(*program));
    } else {
        SetClientChoice(0);
    }
    MarkModified();
}

bool CPatchContextDefDlg::ConfirmLeave() {
    WxPrompt prompt(this);
    if (modified && list->GetSelection() != wxNOT_FOUND) {
        const PromptAnswer answer = ShowMessageBox(
            this, tr("Sollen deine Änderungen gespeichert werden?"), tr("Änderungen speichern"),
            PromptButtons::YesNoCancel, PromptIcon::Information);
        if (answer == PromptAnswer::Yes) {
            OnSave();
            SaveProfilesOrTell(profiles, prompt);
            return !modified;
        }
        if (answer == PromptAnswer::Cancel) {
            SaveProfilesOrTell(profiles, prompt);
            return false;
        }
    }
    SaveProfilesOrTell(profiles, prompt);
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
            // Anywhere else Enter closes as "Schließen" does: it asks before changes are lost.
            OnCloseButton();
            return;
        default:
            event.Skip();
    }
}

}  // namespace veldmoor
