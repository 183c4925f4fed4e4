// CPatchContextDefDlg: the profile editor. It lists the main dialog's profiles and edits them in
// place: Save, Save as new profile, Delete, the installation folder and the program to start.
// profiles.xml is written whenever the person leaves a shown profile or closes the editor.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/listbox.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include <functional>
#include <optional>
#include <string>

#include "profiles/patch_context_list.h"
#include "system/prompt.h"

namespace veldmoor {

inline constexpr int kIdEditorName = 1003;
inline constexpr int kIdEditorList = 1006;
inline constexpr int kIdEditorSave = 1007;
inline constexpr int kIdEditorSaveNew = 1008;
inline constexpr int kIdEditorRepo = 1009;
inline constexpr int kIdEditorDelete = 1010;
inline constexpr int kIdEditorPatchPath = 1011;
inline constexpr int kIdEditorBrowse = 1013;
inline constexpr int kIdEditorAutoPatch = 1014;
inline constexpr int kIdEditorRegistry = 1017;
inline constexpr int kIdEditorClient = 1019;
inline constexpr int kIdEditorNothing = 1020;
inline constexpr int kIdEditorOther = 1021;
inline constexpr int kIdEditorProgram = 1022;
inline constexpr int kIdEditorClose = 1026;

// What the installation-folder choice came to.
struct TargetFolderChoice {
    bool pickerCancelled = false;       // the picker itself was cancelled
    std::optional<std::string> folder;  // the chosen folder, when one was accepted
};
// Chooses an installation folder, starting from the present one, asking through prompt.
using TargetFolderChooser =
    std::function<TargetFolderChoice(const std::string& current, Prompt& prompt)>;
// Chooses the program to start after patching; std::nullopt when cancelled.
using ProgramChooser = std::function<std::optional<std::string>(wxWindow* owner)>;

class CPatchContextDefDlg : public wxDialog {
public:
    CPatchContextDefDlg(wxWindow* parent, PatchContextList& profiles,
                        TargetFolderChooser chooseFolder, ProgramChooser chooseProgram = {});

    // The profile the fields show, -1 for none; read by the main dialog after closing.
    int ShownIndex() const { return shownIndex; }
    bool IsModified() const { return modified; }

    // The editor's operations, as the buttons run them.
    void OnListSelection();
    void OnSave();
    void OnSaveAsNew();
    void OnDelete();
    void OnBrowseFolder();
    void OnChooseProgram();
    // Schließen (confirmed) and the window's close box: ConfirmLeave, then end.
    void OnCloseButton();
    // Asks whether to store changes and writes profiles.xml; true when leaving may go on.
    bool ConfirmLeave();
    void MarkModified();
    // Enter (as "Schließen", or the focused button) and Escape (cancel).
    void OnKey(wxKeyEvent& event);

    wxListBox* list = nullptr;
    wxTextCtrl* nameEdit = nullptr;
    wxTextCtrl* repoEdit = nullptr;
    wxTextCtrl* patchPathEdit = nullptr;
    wxButton* browseButton = nullptr;
    wxTextCtrl* programEdit = nullptr;
    wxCheckBox* autoPatchBox = nullptr;
    wxCheckBox* registryBox = nullptr;
    wxRadioButton* clientRadio = nullptr;
    wxRadioButton* nothingRadio = nullptr;
    wxRadioButton* otherRadio = nullptr;
    wxButton* deleteButton = nullptr;
    wxButton* saveButton = nullptr;
    wxButton* saveNewButton = nullptr;
    wxButton* closeButton = nullptr;

private:
    void Finish(int result);
    void FillList();
    void ShowProfile(int index);
    bool ReadFields(PatchContext& record);
    int ClientChoice() const;
    void SetClientChoice(int choice);

    PatchContextList& profiles;
    TargetFolderChooser chooseFolder;
    ProgramChooser chooseProgram;
    int shownIndex = -1;
    bool modified = false;
};

}  // namespace veldmoor
