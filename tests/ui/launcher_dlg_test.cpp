// The main dialog against real profiles in a temporary folder, a real patch worker and a
// repository served on loopback; only the operating system's side of a run (elevation,
// program starts) is recorded instead of done.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wx/app.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "tests/support/result_assertions.h"
#include "tests/support/scoped_env.h"
#include "tests/support/served_repository.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_support.h"
#include "tests/ui/window_manager.h"
#include "tests/workflow/recording_platform.h"
#include "tools/publish/repository_publisher.h"
#include "ui/launcher_dlg.h"
#include "ui/news_view.h"

namespace veldmoor {
namespace {

using uitest::PumpUntil;

// Lets the worker's countdown seconds pass only when the test says so.
class SecondsGate {
public:
    void Sleep() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return allowed_ > 0 || open_; });
        if (!open_)
            --allowed_;
    }
    void Allow(int seconds) {
        const std::lock_guard<std::mutex> lock(mutex_);
        allowed_ += seconds;
        changed_.notify_all();
    }
    void Open() {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int allowed_ = 0;
    bool open_ = false;
};

class LauncherDlgTest : public ::testing::Test {
protected:
    LauncherDlgTest()
        : documents_("VELDMOOR_DOCUMENTS_DIR", (temp_ / "documents")),
          game_(temp_ / "game"),
          launcher_(temp_ / "launcher") {
        std::filesystem::create_directories(game_);
        std::filesystem::create_directories(launcher_);
        std::filesystem::create_directories(temp_ / "documents");
        Publish("launcher", {});
        Publish("game", {{"data/map0.mul", std::string(70000, 'm')}, {"readme.txt", "Willkommen"}});
        served_ = std::make_unique<test::ServedRepository>(temp_ / "server");
    }

    ~LauncherDlgTest() override {
        gate_.Open();
        if (dialog_ != nullptr)
            dialog_->Destroy();
        uitest::Pump();
    }

    void Publish(const std::string& repository, const std::map<std::string, std::string>& files) {
        const std::string source = temp_ / ("source-" + repository);
        std::filesystem::create_directories(source);
        for (const auto& [path, content] : files)
            test::WriteTestFile(source + "/" + path, content);
        PublishOptions options;
        options.sourceDir = source;
        options.repoDir = temp_ / ("server/" + repository);
        ASSERT_TRUE(test::Done(PublishRepository(options)));
    }

    PatchContext Profile(const std::string& name, bool autoPatch = false) {
        PatchContext profile;
        profile.Name = name;
        profile.PatchPath = game_;
        profile.RepoPath = served_->address("game");
        profile.AutoPatch = autoPatch;
        return profile;
    }

    void WriteProfiles(const std::vector<PatchContext>& profiles, std::uint32_t last = 0) {
        PatchContextList list(temp_.path());
        for (const PatchContext& profile : profiles)
            list.Add(profile);
        list.SetLastSelected(last);
        ASSERT_TRUE(list.Save());
    }

    CLauncherDlg& Open(bool instantPatch = false) {
        LauncherDialogConfig config;
        config.instantPatch = instantPatch;
        config.profilesFolder = temp_.path();
        config.launcherFolder = launcher_;
        config.launcherRepoAddress = served_->address("launcher");
        config.platform = &platform_;
        config.seams.sleep = [this](std::chrono::milliseconds) { gate_.Sleep(); };
        config.shell.startProgram = [](const std::string&, const std::string&) { return true; };
        config.shell.openFolder = [](const std::string&) { return true; };
        config.newsPageAddress = newsAddress_;
        dialog_ = new CLauncherDlg(std::move(config));
        EXPECT_TRUE(dialog_->OnInitDialog());
        dialog_->Show();
        uitest::Pump();
        return *dialog_;
    }

    std::string Caption() const { return std::string(dialog_->autoStart->GetLabel().utf8_str()); }

    void Click(wxWindow* button) {
        wxCommandEvent click(wxEVT_BUTTON, button->GetId());
        click.SetEventObject(button);
        button->ProcessWindowEvent(click);
    }

    test::TempDir temp_{"veldmoor-ui"};
    testing::ScopedEnv documents_;
    std::string game_;
    std::string launcher_;
    std::unique_ptr<test::ServedRepository> served_;
    testing::RecordingPlatform platform_;
    SecondsGate gate_;
    uitest::ScriptedBoxes boxes_;
    std::string newsAddress_;
    CLauncherDlg* dialog_ = nullptr;
};

// A loopback port that refuses connections: bound, never listening, for as long as it lives.
class RefusingPort {
public:
    RefusingPort() {
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (socket_ >= 0 &&
            ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() {
        if (socket_ >= 0)
            ::close(socket_);
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int socket_ = -1;
    int port_ = 0;
};

TEST_F(LauncherDlgTest, OpensWithTheLastSelectedProfileInTheIdleLayout) {
    WriteProfiles({Profile("Erster"), Profile("Zweiter")}, 1);
    CLauncherDlg& dialog = Open();

    EXPECT_EQ(dialog.profileList->GetCount(), 2u);
    EXPECT_EQ(dialog.profileList->GetSelection(), 1);
    ASSERT_TRUE(dialog.SelectedProfile().has_value());
    EXPECT_EQ(dialog.SelectedProfile()->Name.str(), "Zweiter");
    EXPECT_EQ(std::string(dialog.patchPathText->GetLabel().utf8_str()), game_);
    EXPECT_EQ(std::string(dialog.repoPathText->GetLabel().utf8_str()), served_->address("game"));
    EXPECT_EQ(dialog.GetTitle(), "Veldmoor Launcher " + LauncherVersionText());

    for (wxWindow* enabled :
         {static_cast<wxWindow*>(dialog.startButton), static_cast<wxWindow*>(dialog.editButton),
          static_cast<wxWindow*>(dialog.repairButton), static_cast<wxWindow*>(dialog.moreButton),
          static_cast<wxWindow*>(dialog.autoStart), static_cast<wxWindow*>(dialog.profileList)})
        EXPECT_TRUE(enabled->IsEnabled()) << enabled->GetId();
    EXPECT_FALSE(dialog.status->IsShown());
    EXPECT_FALSE(dialog.progress->IsShown());
    EXPECT_FALSE(dialog.patchPathText->IsShown());
    EXPECT_FALSE(dialog.sizeText->IsShown());
    EXPECT_FALSE(dialog.IsPatchingLayout());
    EXPECT_EQ(dialog.progress->GetRange(), RunScreen::kProgressRange);
    EXPECT_TRUE(dialog.BackgroundImage().IsOk());
    EXPECT_EQ(dialog.BackgroundImage().GetSize(), dialog.GetClientSize());
}

TEST_F(LauncherDlgTest, WithoutASelectionOnlyEditAndTheListStayUsable) {
    WriteProfiles({Profile("Erster")});
    CLauncherDlg& dialog = Open();
    dialog.profileList->SetSelection(wxNOT_FOUND);
    dialog.OnProfileSelected();

    EXPECT_FALSE(dialog.SelectedProfile().has_value());
    EXPECT_FALSE(dialog.startButton->IsEnabled());
    EXPECT_FALSE(dialog.repairButton->IsEnabled());
    EXPECT_FALSE(dialog.moreButton->IsEnabled());
    EXPECT_FALSE(dialog.autoStart->IsEnabled());
    EXPECT_TRUE(dialog.editButton->IsEnabled());
    EXPECT_TRUE(dialog.profileList->IsEnabled());
    EXPECT_TRUE(dialog.patchPathText->GetLabel().empty());

    // Tool commands without a profile do nothing: no program starts, no message.
    dialog.RunToolCommand(kCmdStatusMap);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(LauncherDlgTest, PatchingLayoutDisablesTheButtonsAndShowsTheStatusBox) {
    WriteProfiles({Profile("Erster")});
    CLauncherDlg& dialog = Open();
    dialog.EnterPatchingLayout();

    EXPECT_TRUE(dialog.IsPatchingLayout());
    for (wxWindow* disabled :
         {static_cast<wxWindow*>(dialog.startButton), static_cast<wxWindow*>(dialog.editButton),
          static_cast<wxWindow*>(dialog.repairButton), static_cast<wxWindow*>(dialog.moreButton),
          static_cast<wxWindow*>(dialog.autoStart)})
        EXPECT_FALSE(disabled->IsEnabled()) << disabled->GetId();
    EXPECT_TRUE(dialog.closeButton->IsEnabled());
    EXPECT_TRUE(dialog.minimiseButton->IsEnabled());
    for (wxWindow* shown :
         {static_cast<wxWindow*>(dialog.status), static_cast<wxWindow*>(dialog.progress),
          static_cast<wxWindow*>(dialog.patchLabel), static_cast<wxWindow*>(dialog.repoLabel),
          static_cast<wxWindow*>(dialog.patchPathText),
          static_cast<wxWindow*>(dialog.repoPathText)})
        EXPECT_TRUE(shown->IsShown()) << shown->GetId();

    dialog.AppendStatusLine("Rufe Dateiliste ab ..");
    dialog.AppendStatusText("a");
    dialog.AppendStatusBreak();
    EXPECT_EQ(dialog.StatusText(), "Rufe Dateiliste ab ..\na\n");

    dialog.SetProgressPosition(400);
    dialog.EnableProfileSelector(false);
    dialog.LeavePatchingLayout();
    EXPECT_EQ(dialog.progress->GetValue(), 0);
    EXPECT_TRUE(dialog.profileList->IsEnabled());
    EXPECT_TRUE(dialog.editButton->IsEnabled());
    EXPECT_TRUE(dialog.startButton->IsEnabled());
    // The log of the run stays readable after it ended early.
    EXPECT_TRUE(dialog.status->IsShown());
}

TEST_F(LauncherDlgTest, AutoPatchCountsDownAndUntickingStopsTheRun) {
    WriteProfiles({Profile("Erster", /*autoPatch=*/true)});
    CLauncherDlg& dialog = Open();

    EXPECT_TRUE(dialog.autoStart->GetValue());
    ASSERT_TRUE(PumpUntil([&] { return Caption() == "Automatisch starten (5)"; }));
    gate_.Allow(1);
    ASSERT_TRUE(PumpUntil([&] { return Caption() == "Automatisch starten (4)"; }));

    dialog.autoStart->SetValue(false);
    dialog.OnAutoStartClicked();
    EXPECT_TRUE(dialog.profileList->IsEnabled());
    gate_.Allow(1);
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Worker().IsRunning(); }));
    uitest::Pump();
    EXPECT_EQ(Caption(), "Automatisch starten");
    EXPECT_FALSE(dialog.IsPatchingLayout());
    EXPECT_FALSE(dialog.EndResult().has_value());
    // The click is remembered in the profile and reaches the file with the next save.
    EXPECT_FALSE(dialog.Profiles().At(0)->AutoPatch);
}

TEST_F(LauncherDlgTest, StartDuringTheCountdownRunsAtOnceAndTheWindowWatchesTheWholeRun) {
    WriteProfiles({Profile("Erster", /*autoPatch=*/true)});
    CLauncherDlg& dialog = Open();
    ASSERT_TRUE(PumpUntil([&] { return Caption() == "Automatisch starten (5)"; }));

    gate_.Open();  // the closing pause passes at once
    Click(dialog.startButton);
    ASSERT_TRUE(PumpUntil([&] { return dialog.EndResult().has_value(); })) << dialog.StatusText();

    EXPECT_EQ(*dialog.EndResult(), 0);
    EXPECT_EQ(dialog.progress->GetValue(), RunScreen::kProgressRange);
    EXPECT_NE(dialog.StatusText().find("Aktualisiere den Client .."), std::string::npos)
        << dialog.StatusText();
    EXPECT_EQ(test::ReadTestFile(game_ + "/readme.txt"), "Willkommen");
    EXPECT_EQ(std::filesystem::file_size(game_ + "/data/map0.mul"), 70000u);
    EXPECT_TRUE(boxes_.boxes.empty());
    // The run saved the profiles through the window's thread.
    EXPECT_TRUE(std::filesystem::exists(temp_ / "profiles.xml"));
}

TEST_F(LauncherDlgTest, InstantPatchStartsWithoutACountdownAndLeavesTheBoxAsTheProfileSays) {
    WriteProfiles({Profile("Erster")});
    gate_.Open();
    CLauncherDlg& dialog = Open(/*instantPatch=*/true);
    EXPECT_FALSE(dialog.autoStart->GetValue());
    ASSERT_TRUE(PumpUntil([&] { return dialog.EndResult().has_value(); }));
    EXPECT_EQ(*dialog.EndResult(), 0);
    EXPECT_EQ(Caption(), "Automatisch starten");
}

TEST_F(LauncherDlgTest, AFailedRunReturnsToAUsableDialogWithItsLog) {
    PatchContext broken = Profile("Kaputt");
    broken.RepoPath = "http://127.0.0.1:1/game/";  // nothing listens there
    WriteProfiles({broken});
    gate_.Open();
    boxes_.Answer(wxID_OK);
    CLauncherDlg& dialog = Open();
    Click(dialog.startButton);
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Worker().IsRunning(); }));
    uitest::Pump();

    EXPECT_FALSE(dialog.EndResult().has_value());
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    // The box's reason stays in the log, line by line, right before "Abbruch.".
    std::string reason = boxes_.boxes[0].caption + ": " + boxes_.boxes[0].text;
    for (std::size_t gap; (gap = reason.find("\n\n")) != std::string::npos;)
        reason.erase(gap, 1);
    const std::string log = dialog.StatusText();
    const std::size_t kept = log.find(reason + "\n");
    ASSERT_NE(kept, std::string::npos) << log;
    EXPECT_EQ(log.find("Abbruch.", kept), kept + reason.size() + 2) << log;
    EXPECT_TRUE(dialog.status->IsShown());
    EXPECT_TRUE(dialog.startButton->IsEnabled());
    EXPECT_TRUE(dialog.editButton->IsEnabled());
    EXPECT_TRUE(dialog.profileList->IsEnabled());
}

// The repair dialog's "Spieldateien prüfen": the selected profile's files are examined and
// healed with the run's progress in the window, the counts end the log, and no game starts.
TEST_F(LauncherDlgTest, TheCheckOfTheGameFilesHealsThemAndReturnsToTheIdleLayout) {
    WriteProfiles({Profile("Erster")});
    gate_.Open();
    CLauncherDlg& dialog = Open();
    dialog.StartVerifyRun();
    ASSERT_TRUE(PumpUntil([&] { return !dialog.Worker().IsRunning(); }));
    uitest::Pump();

    EXPECT_EQ(test::ReadTestFile(game_ + "/readme.txt"), "Willkommen");
    EXPECT_NE(dialog.StatusText().find("2 Dateien geprüft, 2 repariert"), std::string::npos)
        << dialog.StatusText();
    EXPECT_FALSE(dialog.EndResult().has_value());
    EXPECT_TRUE(dialog.startButton->IsEnabled());
    EXPECT_TRUE(dialog.profileList->IsEnabled());
    EXPECT_TRUE(platform_.programStarts.empty());
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(LauncherDlgTest, EscapeSavesTheProfilesAndTheCloseButtonDoesNot) {
    WriteProfiles({Profile("Erster")});
    {
        CLauncherDlg& dialog = Open();
        dialog.Profiles().At(0)->Name = "Umbenannt";
        Click(dialog.closeButton);
        EXPECT_EQ(dialog.EndResult(), 0);
        PatchContextList reread(temp_.path());
        reread.Load();
        EXPECT_EQ(reread.At(0)->Name.str(), "Erster");
        dialog_->Destroy();
        dialog_ = nullptr;
    }
    CLauncherDlg& dialog = Open();
    dialog.Profiles().At(0)->Name = "Umbenannt";
    dialog.OnCancel();
    EXPECT_EQ(dialog.EndResult(), wxID_CANCEL);
    PatchContextList reread(temp_.path());
    reread.Load();
    EXPECT_EQ(reread.At(0)->Name.str(), "Umbenannt");
}

TEST_F(LauncherDlgTest, ToolCommandsTellWhatIsMissing) {
    WriteProfiles({Profile("Erster")});
    CLauncherDlg& dialog = Open();
    boxes_.Answer(wxID_OK);
    dialog.RunToolCommand(kCmdStatusMap);
    boxes_.Answer(wxID_OK);
    dialog.RunToolCommand(kCmdOpenLogs);
    ASSERT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_EQ(boxes_.boxes[0].caption, "Fehler");
    EXPECT_EQ(boxes_.boxes[0].text,
              "Die Statuskarte konnte nicht aufgerufen werden. Bitte patche um sicherzustellen, "
              "dass diese verfügbar ist.");
    EXPECT_EQ(boxes_.boxes[1].caption, "");
    EXPECT_EQ(boxes_.boxes[1].text, "Du hast noch keine Logs.");
    // The logs folder is not created by asking for it.
    EXPECT_FALSE(std::filesystem::exists(temp_ / "documents/Veldmoor/Logs"));
}

TEST_F(LauncherDlgTest, TheBackgroundDragsTheWindowAndEnterDoesNotCloseIt) {
    WriteProfiles({Profile("Erster")});
    CLauncherDlg& dialog = Open();
    dialog.Move(100, 100);
    uitest::Pump();
    const wxPoint before = dialog.GetPosition();
    auto mouse = [&](wxEventType type, wxPoint at, bool down) {
        wxMouseEvent event(type);
        event.SetPosition(at);
        event.SetLeftDown(down);
        event.SetEventObject(&dialog);
        dialog.GetEventHandler()->ProcessEvent(event);
    };
    // A point of the background picture: left of the news area, below the crest.
    mouse(wxEVT_LEFT_DOWN, {dialog.GetClientSize().x - 30, dialog.GetClientSize().y - 30}, true);
    mouse(wxEVT_MOTION, {dialog.GetClientSize().x - 10, dialog.GetClientSize().y - 20}, true);
    mouse(wxEVT_LEFT_UP, {dialog.GetClientSize().x - 10, dialog.GetClientSize().y - 20}, false);
    uitest::Pump();
    EXPECT_EQ(dialog.GetPosition(), before + wxSize(20, 10));

    wxKeyEvent enter(wxEVT_CHAR_HOOK);
    enter.m_keyCode = WXK_RETURN;
    enter.SetEventObject(&dialog);
    dialog.GetEventHandler()->ProcessEvent(enter);
    EXPECT_FALSE(dialog.EndResult().has_value());

    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(&dialog);
    dialog.GetEventHandler()->ProcessEvent(escape);
    EXPECT_EQ(dialog.EndResult(), wxID_CANCEL);
}

// A news server that cannot be reached leaves a short note in the news area before anything
// is started, not an empty panel.
TEST_F(LauncherDlgTest, AnUnreachableNewsServerLeavesANoteInTheNewsArea) {
    if (!IsNewsViewAvailable())
        GTEST_FAIL() << "this build has no web view to show news in";
    const RefusingPort refusing;
    ASSERT_NE(refusing.port(), 0);
    newsAddress_ = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/html/launcher.php";
    WriteProfiles({Profile("Erster")});
    CLauncherDlg& dialog = Open();
    ASSERT_NE(dialog.NewsView(), nullptr);
    ASSERT_TRUE(PumpUntil(
        [&] { return dialog.newsPlaceholder != nullptr && dialog.newsPlaceholder->IsShown(); }));
    std::string note(dialog.newsPlaceholder->GetLabel().utf8_str());
    std::replace(note.begin(), note.end(), '\n', ' ');  // the lines as wrapped for the area
    EXPECT_EQ(note, kNewsUnreachableText);
    EXPECT_FALSE(dialog.NewsView()->IsShown());
    EXPECT_TRUE(dialog.NewsView()->GetRect().Contains(dialog.newsPlaceholder->GetRect()));
}

// Without a mouse: Tab reaches every control of the idle window, each picture button shows
// that it has the focus, and Space or Enter works the focused button and the check box.
TEST_F(LauncherDlgTest, EveryControlIsReachedByTabAndWorkedBySpaceOrEnter) {
    ASSERT_TRUE(uitest::EnsureWindowManager());
    WriteProfiles({Profile("Erster"), Profile("Zweiter")});
    CLauncherDlg& dialog = Open();
    ASSERT_TRUE(uitest::Activate(dialog));

    const std::vector<CPictureButton*> buttons = {dialog.editButton,  dialog.repairButton,
                                                  dialog.startButton, dialog.moreButton,
                                                  dialog.closeButton, dialog.minimiseButton};
    std::map<wxWindow*, int> presses;
    for (CPictureButton* button : buttons) {
        // Caught at the button: the dialog's own action (a patch run, a closed window) stays out.
        button->Bind(wxEVT_BUTTON, [&presses, button](wxCommandEvent&) { ++presses[button]; });
    }

    std::set<wxWindow*> reached;
    std::map<wxWindow*, wxImage> focused;
    wxWindow* focus = wxWindow::FindFocus();
    for (int stop = 0; stop < 20 && reached.size() < buttons.size() + 2; ++stop) {
        ASSERT_TRUE(uitest::PressKeys("Tab"));
        wxWindow* before = focus;
        PumpUntil([&] { return (focus = wxWindow::FindFocus()) != before; },
                  std::chrono::seconds(5));
        if (focus == nullptr) {
            // The toolkit's list keeps its focus on an inner part the window does not see;
            // it answers the arrow keys while it has the focus.
            const int selected = dialog.profileList->GetSelection();
            ASSERT_TRUE(uitest::PressKeys(selected == 0 ? "Down" : "Up"));
            if (PumpUntil([&] { return dialog.profileList->GetSelection() != selected; },
                          std::chrono::seconds(2)))
                reached.insert(dialog.profileList);
            continue;
        }
        reached.insert(focus);
        auto* button = dynamic_cast<CPictureButton*>(focus);
        if (button == nullptr)
            continue;
        focused[button] = uitest::CaptureFromScreen(*button, temp_.path());
        const int pressesBefore = presses[button];
        ASSERT_TRUE(uitest::PressKeys(button == dialog.editButton ? "Return" : "space"));
        EXPECT_TRUE(
            PumpUntil([&] { return presses[button] > pressesBefore; }, std::chrono::seconds(5)))
            << "no press by keyboard on button " << button->GetId();
    }
    // The focus mark: each button looked different while it had the focus.
    dialog.autoStart->SetFocus();
    ASSERT_TRUE(PumpUntil([&] { return wxWindow::FindFocus() == dialog.autoStart; }));
    uitest::Pump();
    for (const auto& [button, withFocus] : focused) {
        const wxImage without = uitest::CaptureFromScreen(*button, temp_.path());
        ASSERT_TRUE(withFocus.IsOk() && without.IsOk());
        ASSERT_EQ(withFocus.GetSize(), without.GetSize());
        EXPECT_NE(
            std::memcmp(withFocus.GetData(), without.GetData(),
                        static_cast<std::size_t>(without.GetWidth()) * without.GetHeight() * 3),
            0)
            << "no focus mark on button " << button->GetId();
    }
    for (CPictureButton* button : buttons) {
        EXPECT_EQ(reached.count(button), 1u) << "Tab never reached button " << button->GetId();
    }
    EXPECT_EQ(reached.count(dialog.profileList), 1u);
    ASSERT_EQ(reached.count(dialog.autoStart), 1u);

    // The check box, by Space and by Enter.
    const bool checked = dialog.autoStart->GetValue();
    ASSERT_TRUE(uitest::PressKeys("space"));
    EXPECT_TRUE(PumpUntil([&] { return dialog.autoStart->GetValue() != checked; },
                          std::chrono::seconds(5)));
    ASSERT_TRUE(uitest::PressKeys("Return"));
    EXPECT_TRUE(PumpUntil([&] { return dialog.autoStart->GetValue() == checked; },
                          std::chrono::seconds(5)));
    EXPECT_TRUE(dialog.IsShown());
}

}  // namespace
}  // namespace veldmoor
