// Start-up's window for a build with one (the counterpart of no_window.cpp): the toolkit is
// started once per process, the main dialog runs modally against the real system, and message
// boxes of start-up and the repair run are real boxes without an owner window. It lives with
// the program, which links both the start-up and the window library; neither library knows the
// other.
#include "app/launcher_dialog_entry.h"
#include "app/startup_messages.h"

#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>

#include "patch/system_patch_platform.h"
#include "profiles/addresses.h"
#include "system/product.h"
#include "system/repair_operations.h"
#include "ui/launcher_dlg.h"
#include "ui/profile_questions.h"
#include "ui/translate.h"
#include "ui/wx_prompt.h"

namespace veldmoor {

namespace {

// A failed check inside the toolkit is a developer's matter: it goes to standard error instead
// of a modal box in front of the player.
void ReportToolkitAssertion(const wxString& file, int line, const wxString& function,
                            const wxString& condition, const wxString& message) {
    std::fprintf(stderr, "Launcher: toolkit check failed at %s:%d in %s: %s %s\n",
                 static_cast<const char*>(file.utf8_str()), line,
                 static_cast<const char*>(function.utf8_str()),
                 static_cast<const char*>(condition.utf8_str()),
                 static_cast<const char*>(message.utf8_str()));
}

// The player's language, chosen once per process, before the first text of start-up or the
// window.
void ChooseLanguage() {
    static const bool chosen = [] {
        UseLanguage(PlayersLanguage());
        return true;
    }();
    static_cast<void>(chosen);
}

// Starts the toolkit on first use; false when no display can be opened.
bool EnsureToolkit() {
    ChooseLanguage();
    static const bool started = [] {
        if (wxTheApp != nullptr)
            return true;
        wxSetAssertHandler(ReportToolkitAssertion);
        wxApp::SetInstance(new wxApp());
        static char name[] = "Launcher";
        static char* arguments[] = {name, nullptr};
        int count = 1;
        if (!wxEntryStart(count, arguments))
            return false;
        wxSetAssertHandler(ReportToolkitAssertion);
        wxTheApp->SetAppDisplayName(kProductName);
        return wxTheApp->CallOnInit();
    }();
    return started;
}

std::string Narrow(const std::wstring& text) {
    return std::string(wxString(text).utf8_str());
}

}  // namespace

std::string StartupText(const char* german) {
    ChooseLanguage();
    return tr(german);
}

void RunLauncherDialog(const LauncherDialogStart& start) {
    if (!EnsureToolkit())
        return;
    SystemPatchPlatform platform;
    const std::unique_ptr<RepairOperations> repairOperations = MakeSystemRepairOperations();

    LauncherDialogConfig config;
    config.instantPatch = start.commandLine.instantPatch != 0;
    config.noSelfPatch = start.commandLine.noSelfPatch != 0;
    config.platform = &platform;
    config.repairOperations = repairOperations.get();
    config.newsPageAddress = Narrow(AdjustScheme(NewsPageAddress()));
    config.loadProfiles = [](PatchContextList& list, Prompt& prompt) {
        return PrepareProfilesAtStartup(list, prompt);
    };
    config.checkInstallPath = [](PatchContextList& list, std::size_t index, Prompt& prompt) {
        return CheckInstallPath(prompt, list, index);
    };
    config.browseTarget = [](const std::string& current, Prompt& prompt) {
        TargetFolderChoice choice;
        choice.folder = BrowseForTargetFolder(prompt, BrowseMode::Editor, current);
        choice.pickerCancelled = !choice.folder.has_value();
        return choice;
    };

    auto* dialog = new CLauncherDlg(std::move(config));
    if (start.secondStart != nullptr) {
        // A second start of the launcher brings this window to the front instead.
        start.secondStart->StartServing([dialog] {
            dialog->CallAfter([dialog] {
                dialog->Iconize(false);
                dialog->Show();
                dialog->Raise();
            });
        });
    }
    dialog->RunModal();
    if (start.secondStart != nullptr)
        start.secondStart->Stop();
    // Deleted now, not left to the toolkit's idle time, which never comes again: the dialog's
    // end waits for a patch run that was stopped by the closing, so that it keeps what it
    // fetched (resume data) and leaves no temporary file. The window is already hidden.
    delete dialog;
    wxTheApp->ProcessPendingEvents();
}

std::unique_ptr<Prompt> CreateDesktopPrompt() {
    if (!EnsureToolkit())
        return nullptr;
    return std::make_unique<WxPrompt>(nullptr);
}

}  // namespace veldmoor
