// The launcher's window as the program runs it (RunLauncherDialog, the real operating system),
// patching from the project's server held back by a rate cap: the player pauses, resumes and
// then closes the window. When the window's run returns, the patch run has ended and kept what
// it fetched as resume data; no temporary file is left behind.
#include <gtest/gtest.h>
#include <wx/timer.h>

#include <filesystem>
#include <random>

#include "app/launcher_dialog_entry.h"
#include "profiles/addresses.h"
#include "sync/resume_data.h"
#include "tests/support/result_assertions.h"
#include "tests/support/scoped_env.h"
#include "tests/support/served_repository.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_support.h"
#include "tools/publish/repository_publisher.h"
#include "ui/launcher_dlg.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

CLauncherDlg* ShownLauncher() {
    for (wxWindow* window : wxTopLevelWindows) {
        if (auto* dialog = dynamic_cast<CLauncherDlg*>(window); dialog && dialog->IsShown())
            return dialog;
    }
    return nullptr;
}

void Click(wxWindow* button) {
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
}

class CurrentDirectory {
public:
    explicit CurrentDirectory(const fs::path& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~CurrentDirectory() { fs::current_path(previous_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    fs::path previous_;
};

TEST(CloseWhilePatching, PauseResumeThenCloseKeepsWhatCameAndLeavesNoTemporaryFile) {
    test::TempDir temp("veldmoor-ui-close");
    const std::string large = "data/maps/map0.mul";
    {
        std::mt19937 generator(7);
        std::string bytes(4u << 20, '\0');
        for (char& c : bytes)
            c = static_cast<char>(generator() & 0xFF);
        test::WriteTestFile(temp / ("source/" + large), bytes);
        PublishOptions options;
        options.sourceDir = temp / "source";
        options.repoDir = temp / "server/game";
        ASSERT_TRUE(test::Done(PublishRepository(options)));
    }
    test::ServedRepository served(temp / "server");
    const std::string game = temp / "game";
    fs::create_directories(game);
    fs::create_directories(temp / "launcher");
    {
        PatchContextList list(temp / "launcher");
        PatchContext profile;
        profile.Name = "Testwelt";
        profile.PatchPath = game;
        profile.RepoPath = served.address("game");
        list.Add(profile);
        ASSERT_TRUE(list.Save());
    }
    const CurrentDirectory launcherFolder(temp / "launcher");
    const testing::ScopedEnv documents("VELDMOOR_DOCUMENTS_DIR", temp / "documents");
    // Every address of the launcher (the news page) on loopback.
    const testing::ScopedEnv server(kServerOverrideVariable, served.server().baseUrl());
    const testing::ScopedEnv rate("VELDMOOR_LIMIT_RATE", "256K");
    uitest::ScriptedBoxes boxes;

    // The player's hand, once the window shows each state.
    enum class Step { WaitForBytes, WaitForHold, WaitForResume, Closed } step = Step::WaitForBytes;
    bool tmpWhileHeld = true;
    bool resumeDataWhileHeld = false;
    std::string statusAtClose;
    std::string lastSeen;  // for a failure's message
    int ticks = 0;
    int highestBarWithPause = -1;
    wxTimer hand;
    hand.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        CLauncherDlg* dialog = ShownLauncher();
        if (dialog == nullptr)
            return;
        ++ticks;
        if (dialog->pauseButton->IsShown())
            highestBarWithPause = std::max(highestBarWithPause, dialog->progress->GetValue());
        lastSeen = dialog->StatusText() + "\nbar: " + std::to_string(dialog->progress->GetValue()) +
                   ", pause shown: " + std::to_string(dialog->pauseButton->IsShown()) +
                   ", step: " + std::to_string(static_cast<int>(step));
        switch (step) {
            case Step::WaitForBytes:
                // A third of the file: more than a run keeps as resume data.
                if (dialog->pauseButton->IsShown() && dialog->progress->GetValue() > 330) {
                    Click(dialog->pauseButton);
                    step = Step::WaitForHold;
                }
                break;
            case Step::WaitForHold:
                if (dialog->resumeButton->IsShown() && dialog->resumeButton->IsEnabled()) {
                    EXPECT_FALSE(dialog->pauseButton->IsShown());
                    EXPECT_TRUE(dialog->stopButton->IsShown());
                    tmpWhileHeld = fs::exists(game + "/" + large + ".tmp");
                    resumeDataWhileHeld =
                        readResumeRecord(game + "/" + large + ".resume").has_value();
                    Click(dialog->resumeButton);
                    step = Step::WaitForResume;
                }
                break;
            case Step::WaitForResume:
                // Closed while the resumed run synchronises again, wherever it is.
                if (dialog->pauseButton->IsShown()) {
                    statusAtClose = dialog->StatusText();
                    Click(dialog->closeButton);
                    step = Step::Closed;
                }
                break;
            case Step::Closed:
                break;
        }
    });
    hand.Start(50);

    CLauncherAppCommandLineInfo options;
    options.instantPatch = 1;
    options.noSelfPatch = 1;
    RunLauncherDialog(LauncherDialogStart{options, nullptr});
    hand.Stop();

    ASSERT_EQ(step, Step::Closed) << "the run ended before the window was closed:\n"
                                  << lastSeen << "\nticks: " << ticks
                                  << ", highest bar with the pause button shown: "
                                  << highestBarWithPause;
    EXPECT_FALSE(tmpWhileHeld);
    EXPECT_TRUE(resumeDataWhileHeld);
    EXPECT_NE(statusAtClose.find("Pausiert."), std::string::npos) << statusAtClose;
    EXPECT_NE(statusAtClose.find("Wird fortgesetzt .."), std::string::npos) << statusAtClose;
    // The window's run returns only once the dialog, which owns the patch run, is gone: the
    // process ends right after it, and a run still fetching would leave its temporary file.
    for (wxWindow* window : wxTopLevelWindows)
        EXPECT_EQ(dynamic_cast<CLauncherDlg*>(window), nullptr) << "the dialog outlived its run";
    // The run ended with the window, keeping what came.
    EXPECT_FALSE(fs::exists(game + "/" + large + ".tmp"));
    EXPECT_FALSE(fs::exists(game + "/" + large));
    EXPECT_TRUE(readResumeRecord(game + "/" + large + ".resume").has_value());
    EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace veldmoor
