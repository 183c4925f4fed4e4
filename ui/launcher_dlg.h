// CLauncherDlg: the launcher's main window. A borderless dialog cut out of its background
// picture, with the news page, the profile selector, the status log and progress of a run, and
// the buttons for start, profile settings, repair, the tools menu, minimise and close. It owns
// the profile list while it runs and the patch worker; the worker reaches it only through its
// run's events, which a RunPresenter turns into the RunScreen operations, which run
// synchronously on the user-interface thread.
#pragma once

#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "patch/patch_platform.h"
#include "patch/patch_worker.h"
#include "patch/ui_call_bridge.h"
#include "profiles/patch_context_list.h"
#include "system/repair.h"
#include "ui/profile_editor_dlg.h"
#include "ui/run_presenter.h"
#include "ui/run_screen.h"
#include "ui/skin.h"
#include "ui/skin_choice.h"
#include "ui/tool_commands.h"

namespace veldmoor {

class CCustomHtmlView;

// Control ids of the main dialog.
enum LauncherDlgId : int {
    kIdAutoStart = 1000,
    kIdStatus = 1001,
    kIdProfiles = 1002,
    kIdRepoPath = 1004,
    kIdPatchPath = 1005,
    kIdEdit = 1015,
    kIdRepair = 1016,
    kIdStart = 1018,
    kIdProgress = 1023,
    kIdNews = 1024,
    kIdClose = 1026,
    kIdRepoLabel = 1027,
    kIdPatchLabel = 1028,
    kIdMinimise = 1029,
    kIdMore = 1040,
    kIdVersion = 1041,
    kIdSize = 1044,
    kIdSpeed = 1045,
    kIdProgressText = 1046,
    kIdPause = 1047,
    kIdResume = 1048,
    kIdStop = 1049,
};

// How the dialog is set up: options of the command line, where things live, and the parts a
// test replaces.
struct LauncherDialogConfig {
    bool instantPatch = false;  // -instantpatch
    bool noSelfPatch = false;   // -noselfpatch
    // Folder of profiles.xml; empty: the current directory (the launcher folder).
    std::string profilesFolder;
    // Where the patch run finds the launcher's files; empty: the current directory.
    std::string launcherFolder;
    // Overrides of the built-in addresses (tests, demo); empty: the built-in ones.
    std::string launcherRepoAddress;
    std::string newsPageAddress;
    // The operating system as the patch run sees it; required.
    PatchPlatform* platform = nullptr;
    PatchRunSeams seams;
    // The repair actions' operating-system side; required for the repair dialog.
    RepairOperations* repairOperations = nullptr;
    // Starting programs and opening folders for the tools menu.
    ShellActions shell;
    // Sets up the profiles before the window fills its selector (the start-up sequence of the
    // profile store: import or load, default profile, migration). Returns the index to select,
    // or std::nullopt when no profile could be set up: the dialog then ends at once.
    std::function<std::optional<std::size_t>(PatchContextList&, Prompt&)> loadProfiles;
    // Checks the installation folder of the profile at an index when it becomes current and
    // obtains a new one when it is missing. False when none could be had. Empty: every profile
    // is taken as it is.
    std::function<bool(PatchContextList&, std::size_t index, Prompt&)> checkInstallPath;
    // Chooses an installation folder in the profile editor (the folder picker with its checks).
    TargetFolderChooser browseTarget;
    // Chooses the program to start after patching; empty: the file picker.
    ProgramChooser chooseProgram;
};

class CLauncherDlg : public wxDialog, public RunScreen, public BackgroundPainter {
public:
    explicit CLauncherDlg(LauncherDialogConfig config);
    ~CLauncherDlg() override;

    // Runs the dialog modally; returns its result (0 for the close button and a finished run,
    // wxID_CANCEL for Escape or the window's close).
    int RunModal();
    // Everything OnInitDialog does; RunModal calls it. Returns false when no profile could be
    // set up (the dialog must then end at once).
    bool OnInitDialog();

    // What the patch worker reports to and asks of this window.
    LauncherView& RunView() { return *runView; }

    // ---- RunScreen, called from the worker's thread (or the user-interface thread)
    PromptAnswer ShowMessage(const std::string& text, const std::string& caption,
                             PromptButtons buttons, PromptIcon icon) override;
    std::optional<std::string> PickFolder(const std::string& title,
                                          const std::string& initialFolder) override;
    void ClearStatusText() override;
    void AppendStatusText(const std::string& text) override;
    void AppendStatusLine(const std::string& text) override;
    void AppendStatusBreak() override;
    void EnterPatchingLayout() override;
    void LeavePatchingLayout() override;
    void SetProgressPosition(int position) override;
    void SetSizeText(const std::string& text) override;
    void SetSpeedText(const std::string& text) override;
    void SetTimeLeftText(const std::string& text) override;
    void ShowTransferTexts(bool visible) override;
    void ShowRunControls(RunControls controls) override;
    void SetAutoStartCaption(const std::string& caption) override;
    void EnableProfileSelector(bool enabled) override;
    void EndDialog(int result) override;

    // ---- BackgroundPainter
    void PaintBackgroundBehind(wxDC& dc, wxWindow& control) override;

    // ---- the dialog's own operations
    // verifyContent: the run that examines the selected profile's game files by content and
    // heals them (the repair dialog's "Spieldateien prüfen"), with no game start.
    void StartPatchWorker(int countdownSeconds, bool verifyContent = false);
    void StartVerifyRun();
    void FillProfileList();
    void OnStartClicked();
    void OnAutoStartClicked();
    void OnEditProfiles();
    void OnRepairClicked();
    void OnMoreButton();
    // Refreshes whatever depends on the selected profile.
    void OnProfileSelected();
    // The buttons beside the progress: hold the transfer, go on, stop the run.
    void OnPauseClicked();
    void OnResumeClicked();
    void OnStopClicked();
    // Escape, Alt+F4: saves the profiles and closes with wxID_CANCEL.
    void OnCancel();
    // Runs one of the tool commands (kCmdStatusMap ... kCmdOpenScreenshots).
    void RunToolCommand(int command);

    PatchContextList& Profiles() { return profiles; }
    const std::optional<PatchContext>& SelectedProfile() const { return selectedProfile; }
    std::optional<std::size_t> SelectedIndex() const { return selectedIndex; }
    PatchWorker& Worker() { return *worker; }
    bool IsPatchingLayout() const { return patchingLayout; }
    const wxImage& BackgroundImage() const { return backgroundImage; }
    const LauncherDialogConfig& Config() const { return config; }
    // The result EndDialog was asked for, when the dialog is not modal (tests).
    std::optional<int> EndResult() const { return endResult; }
    // The news view; nullptr where no web view exists (the placeholder text shows instead).
    CCustomHtmlView* NewsView() const { return newsView; }
    // Text of the status log as the person reads it.
    std::string StatusText() const;

    // Controls, by their ids.
    wxCheckBox* autoStart = nullptr;
    CPictureEdit* status = nullptr;
    CSkinChoice* profileList = nullptr;
    wxStaticText* repoPathText = nullptr;
    wxStaticText* patchPathText = nullptr;
    wxStaticText* repoLabel = nullptr;
    wxStaticText* patchLabel = nullptr;
    wxStaticText* versionText = nullptr;
    wxStaticText* sizeText = nullptr;
    wxStaticText* speedText = nullptr;
    // The bar's percentage and, while bytes arrive, the time left.
    wxStaticText* progressText = nullptr;
    // The note in the news area: no news on this system, or the server could not be reached.
    wxStaticText* newsPlaceholder = nullptr;
    CSkinProgress* progress = nullptr;
    CPictureButton* editButton = nullptr;
    CPictureButton* repairButton = nullptr;
    CPictureButton* startButton = nullptr;
    CPictureButton* closeButton = nullptr;
    CPictureButton* minimiseButton = nullptr;
    CPictureButton* moreButton = nullptr;
    // Shown while a run patches (ShowRunControls); the pause and resume buttons share a place.
    CPictureButton* pauseButton = nullptr;
    CPictureButton* resumeButton = nullptr;
    CPictureButton* stopButton = nullptr;

private:
    void CreateControls();
    void LoadBackground(const wxSize& client);
    void PlaceProfileList();
    void UpdateProgressText();
    void BindEvents();
    void SelectProfile(std::optional<std::size_t> index);
    void AppendToStatus(const std::string& text);
    // Writes what a box of the run told the player into the status log, on lines of its own.
    void KeepInStatus(const std::string& caption, const std::string& text);
    // Runs task on the user-interface thread and waits for it (worker side); at once when
    // already on that thread. False when the dialog is closing and the task did not run.
    bool OnUiThread(const std::function<void()>& task);
    void CloseBridge();
    void OnPaint(wxPaintEvent& event);
    void OnBackgroundLeftDown(wxMouseEvent& event);
    void OnBackgroundMotion(wxMouseEvent& event);
    void OnBackgroundLeftUp(wxMouseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    // Puts the note that the news server could not be reached over the news area at newsRect.
    void ShowNewsUnreachable(const wxRect& newsRect);
    void OnCloseWindow(wxCloseEvent& event);
    void EndWith(int result);

    LauncherDialogConfig config;
    PatchContextList profiles;
    std::optional<PatchContext> selectedProfile;
    std::optional<std::size_t> selectedIndex;
    // The background in logical pixels (shape, colours), and at the display's resolution.
    wxImage backgroundImage;
    wxBitmap backgroundBitmap;
    wxImage backgroundPixels;
    CCustomHtmlView* newsView = nullptr;
    std::unique_ptr<Prompt> prompt;
    std::unique_ptr<UiCallBridge> bridge;
    // Outlives the worker, which reports to it.
    std::unique_ptr<RunPresenter> runView;
    // The time left beside the bar's percentage; empty while it is not known.
    std::string timeLeft;
    std::unique_ptr<PatchWorker> worker;
    bool patchingLayout = false;
    bool initialised = false;
    std::optional<int> endResult;
    std::optional<wxPoint> dragOffset;
};

// Window title and version texts of this program ("Veldmoor Launcher v1.0.0", "v1.0.0").
std::string LauncherVersionText();

}  // namespace veldmoor
