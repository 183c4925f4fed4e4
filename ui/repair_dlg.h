// CRepairDlg: the repair options for the current profile's installation: the game's registry
// entry, the folder's access rights, the client's settings and the check of the game files by
// their content. Repairs that need administrator rights run in an elevated launcher started with
// the repair options, which the dialog waits for. The check of the game files is a run of the
// main window (it shows its progress there): the dialog only records that it was chosen.
#pragma once

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>

#include <string>
#include <vector>

#include "patch/patch_platform.h"
#include "system/repair.h"
#include "ui/skin.h"

namespace veldmoor {

inline constexpr int kIdRepairRights = 1030;
inline constexpr int kIdRepairSettings = 1031;
inline constexpr int kIdRepairRegistry = 1036;
inline constexpr int kIdImgReg = 1037;
inline constexpr int kIdImgUac = 1038;
inline constexpr int kIdImgSettings = 1039;
inline constexpr int kIdVerifyGameFiles = 1047;
inline constexpr int kIdImgVerify = 1048;

// The elevated launcher's arguments for the chosen repairs on folder, in the order -repair
// folder, -rreg, -rrights, -rconfig.
std::vector<std::string> ElevatedRepairArguments(const std::string& folder, bool registry,
                                                 bool rights, bool settings);

class CRepairDlg : public wxDialog {
public:
    // patchPath: the current profile's installation folder.
    CRepairDlg(wxWindow* parent, std::string patchPath, RepairOperations& operations,
               PatchPlatform& platform);

    wxCheckBox* registryBox = nullptr;
    wxCheckBox* rightsBox = nullptr;
    wxCheckBox* settingsBox = nullptr;
    wxCheckBox* verifyBox = nullptr;
    wxButton* proceedButton = nullptr;

    // A click on one of the boxes (the rights box warns first when it becomes checked).
    void OnBoxClicked(int id);
    // "Fortfahren": runs the repairs here or elevated, then reports completion; a check of the
    // game files, when chosen, is left to the caller and reports itself.
    void OnProceed();
    // True once "Fortfahren" ended the dialog with "Spieldateien prüfen" checked.
    bool VerifyGameFilesChosen() const { return verifyChosen; }

private:
    void Finish(int result);
    void UpdateProceed();

    std::string patchPath;
    RepairOperations& operations;
    PatchPlatform& platform;
    bool verifyChosen = false;
};

}  // namespace veldmoor
