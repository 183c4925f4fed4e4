#include "ui/launcher_dlg.h"

#include <wx/app.h>
#include <wx/dcbuffer.h>
#include <wx/icon.h>
#include <wx/menu.h>
#include <wx/thread.h>

#include <algorithm>
#include <utility>

#include "system/folders.h"
#include "ui/about_dlg.h"
#include "ui/check_box_gap.h"
#include "ui/dialog_units.h"
#include "ui/menu_icons.h"
#include "ui/news_view.h"
#include "ui/profile_editor_dlg.h"
#include "ui/profile_questions.h"
#include "ui/progress_texts.h"
#include "ui/repair_dlg.h"
#include "ui/run_texts.h"
#include "ui/tab_order.h"
#include "ui/translate.h"
#include "ui/wx_prompt.h"

#ifndef VELDMOOR_VERSION_MAJOR
#define VELDMOOR_VERSION_MAJOR 0
#define VELDMOOR_VERSION_MINOR 0
#define VELDMOOR_VERSION_PATCH 0
#endif

namespace veldmoor {

namespace {

// Text colours chosen to read well on the background picture: each reaches a contrast of at
// least 4.5:1 against the picture behind its text.
const wxColour& kTextColour = kSkinParchment;
const wxColour& kLabelColour = kSkinGold;
const wxColour& kVersionColour = kSkinParchment;
// A control that cannot be used now: still readable, plainly dimmer than kTextColour.
const wxColour kDisabledTextColour(128, 124, 112);

const wxSize kDesignSize(kMainWindowDesignWidth, kMainWindowDesignHeight);

// Texts that carry information (status, sizes, speed, version, paths) use the system's sans-serif
// face: its figures are lining and its 0 and O, 1 and I differ. The embedded faces are for titles.
constexpr int kInfoPoints = 9;
wxFont InfoFont() {
    return wxFont(wxFontInfo(kInfoPoints).Family(wxFONTFAMILY_SWISS));
}

// A control that cannot be used must look so: the toolkit keeps a set colour when disabled.
void ShowEnabledLook(wxWindow* control) {
    control->SetForegroundColour(control->IsEnabled() ? kTextColour : kDisabledTextColour);
    control->Refresh();
}

// Takes a button's tooltip away while the dialog the button opened is open: a tooltip shown
// when it was clicked would otherwise stay on screen over that dialog.
class ToolTipAway {
public:
    explicit ToolTipAway(wxWindow& control) : control(control), text(control.GetToolTipText()) {
        control.UnsetToolTip();
    }
    ~ToolTipAway() {
        if (!text.empty())
            control.SetToolTip(text);
    }
    ToolTipAway(const ToolTipAway&) = delete;
    ToolTipAway& operator=(const ToolTipAway&) = delete;

private:
    wxWindow& control;
    wxString text;
};

// Lets a text keep its top and width but grow to its font's height.
void FitHeight(wxWindow* control) {
    const wxRect rect = control->GetRect();
    control->SetSize(rect.x, rect.y, rect.width, std::max(rect.height, control->GetBestSize().y));
}

std::string WithoutCarriageReturns(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c != '\r')
            result += c;
    }
    return result;
}

PromptAnswer DeclinedAnswer(PromptButtons buttons) {
    switch (buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::YesNo:
            return PromptAnswer::No;
        default:
            return PromptAnswer::Cancel;
    }
}

wxStaticText* MakeText(wxWindow* parent, int id, const char* text, const wxRect& rect, long style,
                       const wxColour& colour) {
    auto* control = new wxStaticText(parent, id, wxString::FromUTF8(text), rect.GetPosition(),
                                     rect.GetSize(), style | wxST_NO_AUTORESIZE);
    control->SetForegroundColour(colour);
    return control;
}

// A name wider than the room beside the selector's arrow is cut: the selector then shows it whole
// as its tooltip; a name that fits has none.
void ShowCutNameAsToolTip(wxWindow& selector, const wxString& name) {
    const wxSize box = selector.GetClientSize();
    const int room = box.x - box.y - 2 * selector.GetCharWidth();
    if (!name.empty() && selector.GetTextExtent(name).x > room)
        selector.SetToolTip(name);
    else
        selector.UnsetToolTip();
}

}  // namespace

std::string LauncherVersionText() {
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict on "v" + std::string.
    std::string text = "v";
    text.append(std::to_string(VELDMOOR_VERSION_MAJOR)).append(".");
    text.append(std::to_string(VELDMOOR_VERSION_MINOR)).append(".");
    text.append(std::to_string(VELDMOOR_VERSION_PATCH));
    return text;
}

CLauncherDlg::CLauncherDlg(LauncherDialogConfig settings)
    : wxDialog(nullptr, wxID_ANY, wxString(), wxDefaultPosition,
               wxSize(SkinUnits().Pixels(kDesignSize.x), SkinUnits().Pixels(kDesignSize.y)),
               wxBORDER_NONE | wxFRAME_SHAPED | wxCLIP_CHILDREN | wxSYSTEM_MENU),
      config(std::move(settings)),
      profiles(config.profilesFolder) {
    SetName("VelLauncherMainDialog");
    SetFont(DialogFont());
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    prompt = std::make_unique<WxPrompt>(this);
    bridge = std::make_unique<UiCallBridge>(
        [](std::function<void()> task) { wxTheApp->CallAfter(std::move(task)); });
    runView = std::make_unique<RunPresenter>(*this);
    worker = std::make_unique<PatchWorker>(*runView, *config.platform, config.seams);
    if (!config.shell.startProgram || !config.shell.openFolder)
        config.shell = SystemShellActions();
    CreateControls();
    BindEvents();
}

CLauncherDlg::~CLauncherDlg() {
    // The worker is released first: it may be waiting for this window, and a closed bridge
    // answers it at once. Only then do the controls go away.
    CloseBridge();
    worker.reset();
}

void CLauncherDlg::CreateControls() {
    const SkinUnits du;
    const wxSize client = GetClientSize();
    LoadBackground(client);
    if (backgroundImage.IsOk())
        SetShape(RegionFromAlpha(client, backgroundImage));

    const wxRect autoStartRect = du.Rect(79, 252, 247, 11);
    autoStart = new wxCheckBox(this, kIdAutoStart, wxString::FromUTF8(AutoStartCaption()),
                               autoStartRect.GetPosition());
    // The toolkit's check mark may need more height than the slot; never squeeze it.
    autoStart->SetSize(autoStartRect.width,
                       std::max(autoStartRect.height, autoStart->GetBestSize().y));
    autoStart->SetForegroundColour(kTextColour);

    const wxRect statusRect = du.Rect(74, 118, 408, 116);
    wxColour statusBackground(26, 30, 28);
    if (backgroundImage.IsOk()) {
        const wxPoint centre = statusRect.GetPosition() + wxSize(4, 4);
        statusBackground = wxColour(backgroundImage.GetRed(centre.x, centre.y),
                                    backgroundImage.GetGreen(centre.x, centre.y),
                                    backgroundImage.GetBlue(centre.x, centre.y));
    }
    status = new CPictureEdit();
    status->Create(this, kIdStatus, statusRect, statusBackground, kTextColour);
    status->Hide();

    const wxRect listRect = du.Rect(389, 79, 95, 12);
    profileList = new CSkinChoice();
    profileList->Create(this, kIdProfiles, listRect.GetPosition(), listRect.width);

    repoPathText = MakeText(this, kIdRepoPath, "%RepoPath%", du.Rect(220, 92, 203, 9),
                            wxST_ELLIPSIZE_MIDDLE, kTextColour);
    patchPathText = MakeText(this, kIdPatchPath, "%PatchPath%", du.Rect(220, 104, 203, 9),
                             wxST_ELLIPSIZE_MIDDLE, kTextColour);
    repoLabel =
        MakeText(this, kIdRepoLabel, tr("Repo:").c_str(), du.Rect(193, 94, 32, 8), 0, kLabelColour);
    patchLabel = MakeText(this, kIdPatchLabel, tr("Lokal:").c_str(), du.Rect(193, 105, 32, 8), 0,
                          kLabelColour);
    for (wxWindow* hidden :
         {static_cast<wxWindow*>(repoPathText), static_cast<wxWindow*>(patchPathText),
          static_cast<wxWindow*>(repoLabel), static_cast<wxWindow*>(patchLabel)})
        hidden->Hide();

    editButton = new CPictureButton(151, 152, 153, 158);
    editButton->Create(this, kIdEdit, du.Point(373, 79), this);
    repairButton = new CPictureButton(162, 165, 164, 163);
    repairButton->Create(this, kIdRepair, du.Point(415, 242), this);
    startButton = new CPictureButton(150, 155, 154, 159);
    startButton->Create(this, kIdStart, du.Point(447, 242), this);
    closeButton = new CPictureButton(149, 148, 156, 149);
    closeButton->Create(this, kIdClose, du.Point(486, 53), this);
    minimiseButton = new CPictureButton(170, 172, 171, 170);
    minimiseButton->Create(this, kIdMinimise, du.Point(472, 53), this);
    moreButton = new CPictureButton(174, 177, 176, 175);
    moreButton->Create(this, kIdMore, du.Point(396, 253), this);
    // Beside the bar's end, in the row of the other buttons, which a run disables.
    pauseButton = new CPictureButton(190, 191, 192, 193);
    pauseButton->Create(this, kIdPause, du.Point(359, 253), this);
    resumeButton = new CPictureButton(194, 195, 196, 197);
    resumeButton->Create(this, kIdResume, du.Point(359, 253), this);
    stopButton = new CPictureButton(198, 199, 200, 201);
    stopButton->Create(this, kIdStop, du.Point(377, 253), this);
    for (CPictureButton* control : {pauseButton, resumeButton, stopButton})
        control->Hide();
    PlaceProfileList();

    const wxRect progressRect = du.Rect(73, 234, 409, 6);
    progress = new CSkinProgress();
    progress->Create(this, kIdProgress, progressRect, kProgressRange);
    progress->Hide();

    versionText = MakeText(this, kIdVersion, "v*.*.*", du.Rect(385, 53, 80, 8), wxALIGN_RIGHT,
                           kVersionColour);
    sizeText =
        MakeText(this, kIdSize, "%SIZE%", du.Rect(301, 220, 164, 8), wxALIGN_RIGHT, kTextColour);
    speedText =
        MakeText(this, kIdSpeed, "%SPEED%", du.Rect(382, 209, 83, 8), wxALIGN_RIGHT, kTextColour);
    progressText =
        MakeText(this, kIdProgressText, "", du.Rect(301, 198, 164, 8), wxALIGN_RIGHT, kTextColour);
    sizeText->Hide();
    speedText->Hide();
    progressText->Hide();
}

void CLauncherDlg::LoadBackground(const wxSize& client) {
    LoadPngResource(147, backgroundImage, client);
    backgroundBitmap = LoadPngBitmap(147, client);
    backgroundPixels = backgroundBitmap.IsOk() ? backgroundBitmap.ConvertToImage() : wxImage();
}

void CLauncherDlg::PlaceProfileList() {
    // The toolkit's list is taller than the slot the artwork had for it: it ends just above the
    // news area's frame, and the edit button sits level with it.
    const SkinUnits du;
    const int newsFrameTop = du.Y(91) - du.Pixels(4);
    const wxSize size = profileList->GetSize();
    profileList->Move(du.X(389), newsFrameTop - du.Pixels(2) - size.y);
    const wxRect list = profileList->GetRect();
    editButton->Move(list.x - du.Pixels(4) - editButton->GetSize().x,
                     list.y + (list.height - editButton->GetSize().y) / 2);
}

void CLauncherDlg::BindEvents() {
    Bind(wxEVT_PAINT, &CLauncherDlg::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CLauncherDlg::OnBackgroundLeftDown, this);
    Bind(wxEVT_MOTION, &CLauncherDlg::OnBackgroundMotion, this);
    Bind(wxEVT_LEFT_UP, &CLauncherDlg::OnBackgroundLeftUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { dragOffset.reset(); });
    Bind(wxEVT_CHAR_HOOK, &CLauncherDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CLauncherDlg::OnCloseWindow, this);
    Bind(
        wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnAutoStartClicked(); }, kIdAutoStart);
    Bind(
        wxEVT_COMBOBOX, [this](wxCommandEvent&) { OnProfileSelected(); }, kIdProfiles);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnEditProfiles(); }, kIdEdit);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnStartClicked(); }, kIdStart);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnRepairClicked(); }, kIdRepair);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { EndWith(0); }, kIdClose);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Iconize(true); }, kIdMinimise);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnMoreButton(); }, kIdMore);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnPauseClicked(); }, kIdPause);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnResumeClicked(); }, kIdResume);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnStopClicked(); }, kIdStop);
    // Enter never closes the dialog.
    Bind(
        wxEVT_BUTTON, [](wxCommandEvent&) {}, wxID_OK);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); }, wxID_CANCEL);
    Bind(
        wxEVT_MENU,
        [this](wxCommandEvent& event) { RunToolCommand(CommandOfMenuItem(event.GetId())); },
        MenuItemId(kCmdOpenLogs), MenuItemId(kCmdLogSweeper));
}

bool CLauncherDlg::OnInitDialog() {
    if (initialised)
        return true;
    initialised = true;

    RegisterEmbeddedFonts();
    const wxFont info = InfoFont();
    for (wxWindow* text :
         {static_cast<wxWindow*>(autoStart), static_cast<wxWindow*>(sizeText),
          static_cast<wxWindow*>(speedText), static_cast<wxWindow*>(progressText),
          static_cast<wxWindow*>(versionText), static_cast<wxWindow*>(repoPathText),
          static_cast<wxWindow*>(patchPathText), static_cast<wxWindow*>(status)}) {
        text->SetFont(info);
        if (text != status)
            FitHeight(text);
    }
    // The labels are titles of their lines: the embedded face, at a size that still reads.
    const wxFont labels = MakeSkinFont("Runeglyph_Solid", kInfoPoints);
    for (wxWindow* label :
         {static_cast<wxWindow*>(patchLabel), static_cast<wxWindow*>(repoLabel)}) {
        label->SetFont(labels);
        FitHeight(label);
    }
    // The theme's gap between the mark and "Automatisch starten" does not grow with the text.
    WidenCheckBoxGap(*autoStart, autoStart->GetCharWidth());
    // The log of the patching layout starts below its "Repo:/Lokal:" header, which grew to its
    // font's height.
    int headerBottom = 0;
    for (const wxWindow* header :
         {static_cast<wxWindow*>(repoPathText), static_cast<wxWindow*>(patchPathText),
          static_cast<wxWindow*>(repoLabel), static_cast<wxWindow*>(patchLabel)})
        headerBottom = std::max(headerBottom, header->GetRect().GetBottom() + 1);
    // It holds whole lines: scrolled to its end, its top line is then whole too.
    const wxRect log = status->GetRect();
    const int logTop = std::max(log.y, headerBottom + SkinUnits().Pixels(2));
    const int line = status->GetCharHeight();
    status->SetSize(log.x, logTop, log.width, (log.GetBottom() + 1 - logTop) / line * line);
    PlaceProfileList();

    SetTitle(wxString::FromUTF8("Veldmoor Launcher " + LauncherVersionText()));
    versionText->SetLabel(wxString::FromUTF8(LauncherVersionText()));
    progress->SetRange(kProgressRange);

    std::optional<std::size_t> index;
    if (config.loadProfiles) {
        index = config.loadProfiles(profiles, *prompt);
        if (!index)
            return false;
    } else {
        index = ImportContextsOrTell(profiles, *prompt);
        if (!index)
            index = profiles.Load();
    }
    FillProfileList();
    SelectProfile(index);
    const bool autoPatch = selectedProfile && selectedProfile->AutoPatch;
    if (autoPatch && !config.instantPatch) {
        autoStart->SetValue(true);
        StartPatchWorker(kAutoStartCountdownSeconds);
    } else if (config.instantPatch) {
        StartPatchWorker(0);
    }

    wxImage iconImage;
    LoadPngResource(131, iconImage, wxSize(48, 48));
    if (iconImage.IsOk()) {
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(iconImage));
        SetIcon(icon);
    }

    const wxRect newsRect = SkinUnits().Rect(73, 94, 411, 146);
    if (IsNewsViewAvailable() && !config.newsPageAddress.empty()) {
        newsView = new CCustomHtmlView();
        if (newsView->Create(this, kIdNews, newsRect, config.newsPageAddress)) {
            newsView->SetUnavailableHandler([this, newsRect] { ShowNewsUnreachable(newsRect); });
            newsView->NavigateToNewsPage();
        } else {
            newsView->Destroy();
            newsView = nullptr;
        }
    }
    if (newsView == nullptr) {
        newsPlaceholder =
            MakeText(this, kIdNews,
                     ("\n\n\n  " + tr("Aus Kompatibilitätsgründen werden für dein "
                                      "Betriebssystem hier keine Neuigkeiten angezeigt."))
                         .c_str(),
                     newsRect, wxST_ELLIPSIZE_END, kTextColour);
    }

    moreButton->SetToolTip(wxString::FromUTF8(tr("Zusätzliche Aktionen")));
    repairButton->SetToolTip(wxString::FromUTF8(tr("Fehlerbehebung")));
    startButton->SetToolTip(wxString::FromUTF8(tr("Patchen und Starten")));
    closeButton->SetToolTip(wxString::FromUTF8(tr("Schließen")));
    minimiseButton->SetToolTip(wxString::FromUTF8(tr("Minimieren")));
    editButton->SetToolTip(wxString::FromUTF8(tr("Profileinstellungen")));
    pauseButton->SetToolTip(wxString::FromUTF8(tr("Pausieren")));
    resumeButton->SetToolTip(wxString::FromUTF8(tr("Fortsetzen")));
    stopButton->SetToolTip(wxString::FromUTF8(tr("Stoppen")));
    autoStart->SetToolTip(
        wxString::FromUTF8(tr("Aktivieren um den Startvorgang automatisch einzuleiten")));
    OrderTabStopsByReading(*this);
    return true;
}

int CLauncherDlg::RunModal() {
    if (!OnInitDialog())
        return 0;
    // Without a window manager a window opens at 0,0; centre it once it is on screen.
    CallAfter([this] { CentreOnScreen(); });
    return ShowModal();
}

// ---------------------------------------------------------------- profiles and buttons

void CLauncherDlg::FillProfileList() {
    profileList->Clear();
    OnProfileSelected();
    for (std::size_t i = 0; i < profiles.Count(); ++i)
        profileList->Append(wxString::FromUTF8(profiles.At(i)->Name.str()));
    profileList->Enable();
}

void CLauncherDlg::SelectProfile(std::optional<std::size_t> index) {
    if (index && *index < profiles.Count())
        profileList->SetSelection(static_cast<int>(*index));
    else
        profileList->SetSelection(wxNOT_FOUND);
    OnProfileSelected();
}

void CLauncherDlg::OnProfileSelected() {
    OnUiThread([this] {
        const int selection = profileList->GetSelection();
        PatchContext* record =
            selection == wxNOT_FOUND ? nullptr : profiles.At(static_cast<std::size_t>(selection));
        if (record != nullptr && config.checkInstallPath &&
            !config.checkInstallPath(profiles, static_cast<std::size_t>(selection), *prompt)) {
            profileList->SetSelection(wxNOT_FOUND);
            record = nullptr;
        }
        // Checking may have appended the default profile: the record is looked up again.
        if (record != nullptr)
            record = profiles.At(static_cast<std::size_t>(selection));
        ShowCutNameAsToolTip(*profileList,
                             record != nullptr
                                 ? profileList->GetString(static_cast<unsigned int>(selection))
                                 : wxString());
        if (record == nullptr) {
            repoPathText->SetLabel(wxString());
            patchPathText->SetLabel(wxString());
            for (wxWindow* control :
                 {static_cast<wxWindow*>(autoStart), static_cast<wxWindow*>(repairButton),
                  static_cast<wxWindow*>(moreButton), static_cast<wxWindow*>(startButton)})
                control->Disable();
            ShowEnabledLook(autoStart);
            selectedProfile.reset();
            selectedIndex.reset();
            return;
        }
        selectedProfile = *record;
        selectedIndex = static_cast<std::size_t>(selection);
        profiles.SetLastSelected(static_cast<std::uint32_t>(selection));
        for (wxWindow* control :
             {static_cast<wxWindow*>(startButton), static_cast<wxWindow*>(autoStart),
              static_cast<wxWindow*>(repairButton), static_cast<wxWindow*>(moreButton)})
            control->Enable();
        ShowEnabledLook(autoStart);
        repoPathText->SetLabel(wxString::FromUTF8(record->RepoPath.str()));
        patchPathText->SetLabel(wxString::FromUTF8(record->PatchPath.str()));
        autoStart->SetValue(record->AutoPatch);
    });
}

void CLauncherDlg::StartPatchWorker(int countdownSeconds, bool verifyContent) {
    PatchRunRequest request;
    request.profile = selectedProfile;
    // The list belongs to the user-interface thread; the run's saves are done there.
    request.saveProfiles = [this] {
        OnUiThread([this] { SaveProfilesOrTell(profiles, *prompt); });
    };
    request.countdownSeconds = countdownSeconds;
    request.noSelfPatch = config.noSelfPatch;
    request.launcherFolder = config.launcherFolder;
    request.launcherRepoAddress = config.launcherRepoAddress;
    request.profilesFolder = config.profilesFolder;
    request.verifyContent = verifyContent;
    worker->Start(std::move(request));
}

void CLauncherDlg::OnStartClicked() {
    worker->CancelCountdown();
    StartPatchWorker(0);
}

void CLauncherDlg::OnAutoStartClicked() {
    if (!selectedProfile || !selectedIndex)
        return;
    const bool ticked = autoStart->GetValue();
    if (PatchContext* record = profiles.At(*selectedIndex))
        record->AutoPatch = ticked;
    selectedProfile->AutoPatch = ticked;
    if (ticked) {
        profileList->Disable();
        StartPatchWorker(kAutoStartCountdownSeconds);
    } else {
        profileList->Enable();
        worker->CancelCountdown();
    }
}

void CLauncherDlg::OnEditProfiles() {
    autoStart->SetValue(false);
    worker->CancelCountdown();
    int shown = -1;
    {
        const ToolTipAway noTip(*editButton);
        CPatchContextDefDlg editor(this, profiles, config.browseTarget, config.chooseProgram);
        // Placed by the launcher, not left to the window manager's choice.
        editor.CentreOnParent();
        editor.ShowModal();
        shown = editor.ShownIndex();
    }
    const int previous = profileList->GetSelection();
    FillProfileList();
    if (shown >= 0 && static_cast<std::size_t>(shown) < profiles.Count())
        SelectProfile(static_cast<std::size_t>(shown));
    else if (previous >= 0 && static_cast<std::size_t>(previous) < profiles.Count())
        SelectProfile(static_cast<std::size_t>(previous));
}

void CLauncherDlg::OnRepairClicked() {
    if (!selectedProfile || config.repairOperations == nullptr)
        return;
    const ToolTipAway noTip(*repairButton);
    CRepairDlg repair(this, selectedProfile->PatchPath.str(), *config.repairOperations,
                      *config.platform);
    repair.CentreOnParent();
    repair.ShowModal();
    if (repair.VerifyGameFilesChosen())
        StartVerifyRun();
}

void CLauncherDlg::StartVerifyRun() {
    autoStart->SetValue(false);
    worker->CancelCountdown();
    StartPatchWorker(0, /*verifyContent=*/true);
}

void CLauncherDlg::OnMoreButton() {
    wxMenu menu;
    int count = 0;
    const MenuEntry* entries = ToolsMenuEntries(count);
    for (int i = 0; i < count; ++i) {
        if (entries[i].command == 0) {
            menu.AppendSeparator();
            continue;
        }
        auto* item = new wxMenuItem(&menu, MenuItemId(entries[i].command),
                                    wxString::FromUTF8(tr(entries[i].text)));
        // Both sets of the icon: the toolkit draws the one for the menu's display scale.
        const wxBitmapBundle icon = PngBundle(entries[i].iconId);
        if (icon.IsOk())
            item->SetBitmap(icon);
        menu.Append(item);
    }
    ShowMenuIcons();
    // Below the button, never over it.
    const wxRect button = moreButton->GetRect();
    PopupMenu(&menu, button.GetLeft(), button.GetBottom() + 1);
}

// Each button is disabled at once, until the run shows what it did: a second click cannot ask
// twice, and a pause shows as held only once the transfer really is.
void CLauncherDlg::OnPauseClicked() {
    pauseButton->Disable();
    worker->Pause();
}

void CLauncherDlg::OnResumeClicked() {
    resumeButton->Disable();
    worker->Resume();
}

void CLauncherDlg::OnStopClicked() {
    for (CPictureButton* control : {pauseButton, resumeButton, stopButton})
        control->Disable();
    worker->StopByPlayer();
}

void CLauncherDlg::RunToolCommand(int command) {
    std::optional<std::string> patchPath;
    if (selectedProfile)
        patchPath = selectedProfile->PatchPath.str();
    veldmoor::RunToolCommand(command, patchPath, DocumentsFolder(), config.shell, *prompt);
}

void CLauncherDlg::OnCancel() {
    SaveProfilesOrTell(profiles, *prompt);
    EndWith(wxID_CANCEL);
}

void CLauncherDlg::EndWith(int result) {
    CloseBridge();
    worker->RequestStop();
    if (IsModal()) {
        EndModal(result);
    } else {
        endResult = result;
        Hide();
    }
}

// ---------------------------------------------------------------- window events

void CLauncherDlg::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    const wxSize client = GetClientSize();
    if (!backgroundImage.IsOk() || backgroundImage.GetSize() != client)
        LoadBackground(client);
    if (backgroundBitmap.IsOk())
        dc.DrawBitmap(backgroundBitmap, 0, 0, true);
}

void CLauncherDlg::PaintBackgroundBehind(wxDC& dc, wxWindow& control) {
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    if (!backgroundImage.IsOk())
        return;
    const wxRect area = control.GetRect().Intersect(wxRect(backgroundImage.GetSize()));
    if (area.IsEmpty())
        return;
    // Cut from the picture at the display's resolution, so the control's background is as
    // sharp as the window's.
    const double display = DisplayScale();
    const wxRect pixels =
        wxRect(static_cast<int>(area.x * display), static_cast<int>(area.y * display),
               static_cast<int>(area.width * display), static_cast<int>(area.height * display))
            .Intersect(wxRect(backgroundPixels.GetSize()));
    if (pixels.IsEmpty())
        return;
    wxBitmap part(backgroundPixels.GetSubImage(pixels));
    part.SetScaleFactor(display);
    dc.DrawBitmap(part, area.x - control.GetPosition().x, area.y - control.GetPosition().y, true);
}

void CLauncherDlg::OnBackgroundLeftDown(wxMouseEvent& event) {
    // The borderless window is dragged from any point that is not a control.
    dragOffset = ClientToScreen(event.GetPosition()) - GetPosition();
    if (!HasCapture())
        CaptureMouse();
}

void CLauncherDlg::OnBackgroundMotion(wxMouseEvent& event) {
    if (dragOffset && event.Dragging() && event.LeftIsDown())
        Move(ClientToScreen(event.GetPosition()) - *dragOffset);
}

void CLauncherDlg::OnBackgroundLeftUp(wxMouseEvent&) {
    dragOffset.reset();
    if (HasCapture())
        ReleaseMouse();
}

void CLauncherDlg::ShowNewsUnreachable(const wxRect& newsRect) {
    // An empty panel would look like a launcher that hangs; the player learns why it is empty.
    if (newsPlaceholder != nullptr)
        return;
    const wxRect inner = wxRect(newsRect).Deflate(8);
    newsPlaceholder =
        MakeText(this, kIdNews, tr(kNewsUnreachableText).c_str(), inner, 0, kTextColour);
    newsPlaceholder->SetFont(autoStart->GetFont());
    newsPlaceholder->Wrap(inner.width);
    newsPlaceholder->Show(!patchingLayout);
}

void CLauncherDlg::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key == WXK_ESCAPE) {
        OnCancel();
        return;
    }
    if (key == WXK_RETURN || key == WXK_NUMPAD_ENTER) {
        // Enter works the control that has the focus (a picture button, the check box); it
        // never closes the window.
        const wxWindow* focus = FindFocus();
        if (focus != nullptr && focus != this && focus->GetParent() == this &&
            (dynamic_cast<const CPictureButton*>(focus) != nullptr || focus == autoStart))
            event.Skip();
        return;
    }
    // Keys never reach the news page (no reload, no navigation by keyboard).
    for (wxWindow* focus = FindFocus(); focus != nullptr; focus = focus->GetParent()) {
        if (newsView != nullptr && focus == newsView)
            return;
    }
    event.Skip();
}

void CLauncherDlg::OnCloseWindow(wxCloseEvent&) {
    OnCancel();
}

// ---------------------------------------------------------------- RunScreen

bool CLauncherDlg::OnUiThread(const std::function<void()>& task) {
    if (bridge->IsClosed())
        return false;
    if (wxThread::IsMain()) {
        task();
        return true;
    }
    return bridge->Call(task);
}

void CLauncherDlg::CloseBridge() {
    if (bridge)
        bridge->Close();
}

PromptAnswer CLauncherDlg::ShowMessage(const std::string& text, const std::string& caption,
                                       PromptButtons buttons, PromptIcon icon) {
    PromptAnswer answer = DeclinedAnswer(buttons);
    OnUiThread([&] {
        answer = ShowMessageBox(this, text, caption, buttons, icon);
        // Once the box is closed its reason stays in the log, to read again or to copy when
        // asking for help.
        if (icon == PromptIcon::Error || icon == PromptIcon::Warning)
            KeepInStatus(caption, text);
    });
    return answer;
}

std::optional<std::string> CLauncherDlg::PickFolder(const std::string& title,
                                                    const std::string& initialFolder) {
    std::optional<std::string> folder;
    OnUiThread([&] { folder = prompt->PickFolder(title, initialFolder); });
    return folder;
}

void CLauncherDlg::ClearStatusText() {
    OnUiThread([this] { status->Clear(); });
}

void CLauncherDlg::AppendToStatus(const std::string& text) {
    status->SetInsertionPointEnd();
    status->WriteText(FromUtf8(WithoutCarriageReturns(text)));
    status->ShowPosition(status->GetLastPosition());
}

void CLauncherDlg::AppendStatusText(const std::string& text) {
    OnUiThread([&] { AppendToStatus(text); });
}

void CLauncherDlg::AppendStatusLine(const std::string& text) {
    OnUiThread([&] { AppendToStatus(text + "\r\n"); });
}

void CLauncherDlg::AppendStatusBreak() {
    OnUiThread([this] { AppendToStatus("\r\n"); });
}

void CLauncherDlg::KeepInStatus(const std::string& caption, const std::string& text) {
    std::string lines = WithoutCarriageReturns(caption.empty() ? text : caption + ": " + text);
    // Paragraphs become lines: gaps would push the reason out of the log's view.
    for (std::size_t gap; (gap = lines.find("\n\n")) != std::string::npos;)
        lines.erase(gap, 1);
    const std::string shown = StatusText();
    if (!shown.empty() && shown.back() != '\n')
        lines.insert(0, "\n");
    AppendToStatus(lines + "\n");
}

std::string CLauncherDlg::StatusText() const {
    return ToUtf8(status->GetValue());
}

void CLauncherDlg::EnterPatchingLayout() {
    OnUiThread([this] {
        patchingLayout = true;
        for (wxWindow* control :
             {static_cast<wxWindow*>(startButton), static_cast<wxWindow*>(editButton),
              static_cast<wxWindow*>(repairButton), static_cast<wxWindow*>(moreButton),
              static_cast<wxWindow*>(autoStart)})
            control->Disable();
        ShowEnabledLook(autoStart);
        if (newsView != nullptr)
            newsView->Hide();
        if (newsPlaceholder != nullptr)
            newsPlaceholder->Hide();
        for (wxWindow* control :
             {static_cast<wxWindow*>(status), static_cast<wxWindow*>(progress),
              static_cast<wxWindow*>(patchLabel), static_cast<wxWindow*>(repoLabel),
              static_cast<wxWindow*>(patchPathText), static_cast<wxWindow*>(repoPathText)})
            control->Show();
        Refresh();
    });
}

void CLauncherDlg::LeavePatchingLayout() {
    OnUiThread([this] {
        patchingLayout = false;
        for (CPictureButton* control : {pauseButton, resumeButton, stopButton})
            control->Hide();
        profileList->Enable();
        progress->SetValue(0);
        editButton->Enable();
        OnProfileSelected();
    });
}

void CLauncherDlg::SetProgressPosition(int position) {
    OnUiThread([this, position] {
        progress->SetValue(std::clamp(position, 0, kProgressRange));
        UpdateProgressText();
    });
}

void CLauncherDlg::SetSizeText(const std::string& text) {
    OnUiThread([&] {
        sizeText->SetLabel(FromUtf8(text));
        UpdateProgressText();
    });
}

void CLauncherDlg::SetSpeedText(const std::string& text) {
    OnUiThread([&] {
        speedText->SetLabel(FromUtf8(text));
        UpdateProgressText();
    });
}

void CLauncherDlg::SetTimeLeftText(const std::string& text) {
    OnUiThread([&] {
        timeLeft = text;
        UpdateProgressText();
    });
}

void CLauncherDlg::UpdateProgressText() {
    std::string text = PercentText(progress->GetValue(), kProgressRange);
    if (!timeLeft.empty())
        text += " \u00b7 " + timeLeft;
    progressText->SetLabel(wxString::FromUTF8(text));
}

void CLauncherDlg::ShowTransferTexts(bool visible) {
    OnUiThread([this, visible] {
        sizeText->Show(visible);
        speedText->Show(visible);
        progressText->Show(visible);
    });
}

void CLauncherDlg::ShowRunControls(RunControls controls) {
    OnUiThread([this, controls] {
        pauseButton->Show(controls == RunControls::Running);
        resumeButton->Show(controls == RunControls::Paused);
        stopButton->Show(controls != RunControls::Hidden);
        for (CPictureButton* control : {pauseButton, resumeButton, stopButton})
            control->Enable();
    });
}

void CLauncherDlg::SetAutoStartCaption(const std::string& caption) {
    OnUiThread([&] { autoStart->SetLabel(FromUtf8(caption)); });
}

void CLauncherDlg::EnableProfileSelector(bool enabled) {
    OnUiThread([this, enabled] { profileList->Enable(enabled); });
}

void CLauncherDlg::EndDialog(int result) {
    OnUiThread([this, result] { EndWith(result); });
}

}  // namespace veldmoor
