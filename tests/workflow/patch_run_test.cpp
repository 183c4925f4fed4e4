// Whole patch runs against repositories on loopback, from the countdown to the closing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <future>

#include "patch/launcher_view.h"
#include "system/launcher_file.h"
#include "tests/support/misbehaving_server.h"
#include "tests/support/scoped_env.h"
#include "tests/workflow/workflow_fixture.h"

namespace veldmoor::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

const std::string kAbort = "\r\nAbbruch.\r\n";

std::string Checked(const std::string& path) {
    return "Ermittle herunterzuladene Daten für '" + path + "' ..\r\n";
}

// A loopback port nothing listens on: bound once by the system's choice, then released.
int ClosedLoopbackPort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (probe < 0 || bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "no loopback port to probe";
    }
    close(probe);
    return ntohs(address.sin_port);
}

class PatchRunTest : public WorkflowTest {
protected:
    // The repository paths of a published repository in the order of its file list.
    std::vector<std::string> Listed(const std::string& repository) {
        std::vector<std::string> paths;
        for (const ListedFile& file :
             ReadFileList(temp_ / ("server/" + repository + "/filelist.php"))) {
            paths.push_back(file.path);
        }
        return paths;
    }
    // The lines of a transfer phase in which every listed file is fetched.
    std::string TransferLines(const std::string& repository,
                              const std::vector<std::string>& alreadyThere = {}) {
        std::string text;
        const std::vector<std::string> paths = Listed(repository);
        for (const std::string& path : paths)
            text += Checked(path);
        for (const std::string& path : paths) {
            const bool updated =
                std::find(alreadyThere.begin(), alreadyThere.end(), path) != alreadyThere.end();
            text += "'" + path +
                    (updated ? "' wird aktualisiert ..\r\n" : "' wird heruntergeladen ..\r\n");
        }
        return text;
    }
    bool Happened(const std::string& event) const { return view_.Count(event) > 0; }
};

TEST_F(PatchRunTest, AFullRunPatchesBothRepositoriesCleansUpStartsTheGameAndCloses) {
    const std::string operations = "launcher remove stale.dll\r\nclient remove old.txt\r\n";
    Publish("launcher", {{"operations.txt", operations}});
    Publish("game", {{"client.exe", "the game client"}, {"data/map.mul", std::string(5000, 'm')}});
    test::WriteTestFile(Launcher("stale.dll"), "obsolete");
    WriteOld(Game("data/map.mul"), "an old map");
    test::WriteTestFile(Game("old.txt"), "obsolete");
    PatchRunRequest request = Request();
    request.profile->ExecuteAfterPatch = Game("client.exe");

    Run(std::move(request));

    EXPECT_EQ(view_.StatusText(),
              "Aktualisiere den Launcher ..\r\n"
              "Rufe Dateiliste ab ..\r\n" +
                  TransferLines("launcher") +
                  "\r\n"
                  "Launcherdaten werden aufgeräumt ..\r\n"
                  "Entferne 'stale.dll' ..\r\n"
                  "\r\n"
                  "Aktualisiere den Client ..\r\n"
                  "Rufe Dateiliste ab ..\r\n" +
                  TransferLines("game", {"data/map.mul"}) +
                  "\r\n"
                  "Spieldaten werden aufgeräumt ..\r\n"
                  "Entferne 'old.txt' ..\r\n"
                  "\r\n"
                  "Spiel wird gestartet ..\r\n");
    EXPECT_EQ(test::ReadTestFile(Game("client.exe")), "the game client");
    EXPECT_EQ(test::ReadTestFile(Game("data/map.mul")), std::string(5000, 'm'));
    EXPECT_FALSE(fs::exists(Game("old.txt")));
    EXPECT_FALSE(fs::exists(Launcher("stale.dll")));
    EXPECT_EQ(test::ReadTestFile(Launcher("operations.txt")), operations);

    const std::vector<std::string> events = view_.Events();
    EXPECT_EQ(events.front(), "ClearStatusText");
    EXPECT_EQ(events[1], "EnableProfileSelector:0");
    EXPECT_EQ(events[2], "EnterPatchingLayout");
    EXPECT_EQ(events.back(), "EndDialog:0");
    EXPECT_EQ(events[events.size() - 2], "SetProgressPosition:1000");
    EXPECT_EQ(view_.Count("ShowTransferTexts:1"), 2);
    EXPECT_EQ(view_.Count("ShowTransferTexts:0"), 2);
    EXPECT_FALSE(Happened("LeavePatchingLayout"));
    EXPECT_EQ(Sleeps(), std::vector<milliseconds>{milliseconds(3000)});
    EXPECT_EQ(Saves(), 2);
    ASSERT_EQ(platform_.programStarts.size(), 1U);
    EXPECT_EQ(platform_.programStarts[0].workingDirectory, gameFolder_);
    EXPECT_TRUE(platform_.endProcessCodes.empty());
    EXPECT_TRUE(view_.Messages().empty());
}

TEST_F(PatchRunTest, ASecondRunFindsNothingToDo) {
    Publish("launcher", {{"excludes.txt", "x\n"}});
    Publish("game", {{"client.exe", "game"}, {"a/b.txt", "b"}});
    Run(Request());
    const std::size_t firstEvents = view_.Events().size();
    ASSERT_GT(firstEvents, 0U);

    RecordingView second;
    {
        PatchWorker worker(second, platform_, Seams());
        worker.Start(Request());
        worker.Join();
    }
    EXPECT_EQ(second.StatusText(),
              "Aktualisiere den Launcher ..\r\n"
              "Rufe Dateiliste ab ..\r\n"
              "\r\n"
              "Aktualisiere den Client ..\r\n"
              "Rufe Dateiliste ab ..\r\n"
              "\r\n");
    EXPECT_EQ(second.Count("EndDialog:0"), 1);
    EXPECT_EQ(second.Count("ShowTransferTexts:1"),
              2);  // shown and hidden even with nothing to fetch
    EXPECT_EQ(second.Count("ShowTransferTexts:0"), 2);
}

TEST_F(PatchRunTest, ALauncherUpdateThatChangesTheProgramRestartsIt) {
    const std::string program(kLauncherFileName);
    Publish("launcher", {{program, "launcher version 2"}});
    WriteOld(Launcher(program), "launcher version 1");

    Run(Request());

    EXPECT_EQ(view_.StatusText(),
              "Aktualisiere den Launcher ..\r\n"
              "Rufe Dateiliste ab ..\r\n" +
                  TransferLines("launcher", {program}) +
                  "\r\n"
                  "Launcher-Update erfolgreich!\r\n"
                  "Der Launcher wird jetzt neugestartet.\r\n");
    EXPECT_EQ(test::ReadTestFile(Launcher(program)), "launcher version 2");
    ASSERT_EQ(platform_.launcherStarts.size(), 1U);
    EXPECT_EQ(platform_.launcherStarts[0].program, Launcher(program));
    EXPECT_EQ(platform_.launcherStarts[0].arguments, std::vector<std::string>{"-instantpatch"});
    EXPECT_EQ(platform_.launcherStarts[0].workingDirectory, launcherFolder_);
    EXPECT_EQ(platform_.endProcessCodes, std::vector<int>{0});
    EXPECT_EQ(view_.Progress().back(), RunScreen::kProgressRange);
    EXPECT_EQ(Sleeps(), std::vector<milliseconds>{milliseconds(3000)});
    EXPECT_EQ(Saves(), 2);
    EXPECT_FALSE(Happened("EndDialog:0"));
    EXPECT_EQ(platform_.accessChecks, 0);  // the game update never began
}

// The new program file is written afresh by the update; the restart and every later start of
// the launcher need it to stay a program that may be run.
TEST_F(PatchRunTest, TheUpdatedLauncherProgramCanStillBeRun) {
    const std::string program(kLauncherFileName);
    Publish("launcher", {{program, "launcher version 2"}});
    WriteOld(Launcher(program), "launcher version 1");
    fs::permissions(Launcher(program), fs::perms(0755));

    Run(Request());

    ASSERT_EQ(test::ReadTestFile(Launcher(program)), "launcher version 2");
    ASSERT_EQ(platform_.launcherStarts.size(), 1U);
    const fs::perms mode = fs::status(Launcher(program)).permissions();
    EXPECT_NE(mode & fs::perms::owner_exec, fs::perms::none);
    EXPECT_NE(mode & fs::perms::others_exec, fs::perms::none);
}

TEST_F(PatchRunTest, AnUnchangedLauncherProgramGoesOnToTheGame) {
    const std::string program(kLauncherFileName);
    Publish("launcher", {{program, "same"}});
    Run(Request());  // first run fetches it: created counts as changed
    ASSERT_EQ(platform_.launcherStarts.size(), 1U);

    RecordingView second;
    {
        PatchWorker worker(second, platform_, Seams());
        worker.Start(Request());
        worker.Join();
    }
    EXPECT_EQ(platform_.launcherStarts.size(), 1U);
    EXPECT_EQ(second.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, NoSelfPatchLeavesTheLauncherRepositoryAndItsCleanupAlone) {
    Publish("launcher", {{"operations.txt", "launcher remove keep.txt\n"}});
    test::WriteTestFile(Launcher("operations.txt"), "launcher remove keep.txt\n");
    test::WriteTestFile(Launcher("keep.txt"), "x");
    served_->server().clearRequests();
    PatchRunRequest request = Request();
    request.noSelfPatch = true;

    Run(std::move(request));

    EXPECT_EQ(view_.StatusText().rfind("Aktualisiere den Client ..\r\n", 0), 0U);
    EXPECT_TRUE(fs::exists(Launcher("keep.txt")));
    for (const ServedRequest& served : served_->server().requests()) {
        EXPECT_EQ(served.path.find("/launcher/"), std::string::npos) << served.path;
    }
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, ExcludedFilesAreKeptOnAnInstallationWithSettings) {
    Publish("launcher", {{"excludes.txt", "settings.ini\r\nmissing.ini\r\n"}});
    Publish("game", {{"settings.ini", "server settings"}, {"missing.ini", "server default"}});
    test::WriteTestFile(Game("uo.cfg"), "player's settings");
    WriteOld(Game("settings.ini"), "player's own");

    Run(Request());

    EXPECT_EQ(test::ReadTestFile(Game("settings.ini")), "player's own");
    EXPECT_EQ(test::ReadTestFile(Game("missing.ini")), "server default");
    const std::string status = view_.StatusText();
    EXPECT_EQ(status.find(Checked("settings.ini")), std::string::npos);
    EXPECT_NE(status.find(Checked("missing.ini")), std::string::npos);
}

TEST_F(PatchRunTest, WithoutSettingsTheExclusionListIsIgnored) {
    Publish("launcher", {{"excludes.txt", "settings.ini\n"}});
    Publish("game", {{"settings.ini", "server settings"}});
    WriteOld(Game("settings.ini"), "player's own");

    Run(Request());

    EXPECT_EQ(test::ReadTestFile(Game("settings.ini")), "server settings");
}

class FailingRemover : public EntryRemover {
public:
    bool RemoveFile(const std::string& /*path*/) const override { return false; }
};

TEST_F(PatchRunTest, ACleanupFailureAnsweredYesGoesOn) {
    Publish("launcher",
            {{"operations.txt", "launcher remove stuck.dll\nlauncher remove other.dll\n"}});
    test::WriteTestFile(Launcher("stuck.dll"), "x");
    test::WriteTestFile(Launcher("other.dll"), "x");
    const FailingRemover failing;
    view_.Answer(PromptAnswer::Yes);
    PatchRunSeams seams = Seams();
    seams.remover = &failing;
    {
        PatchWorker worker(view_, platform_, seams);
        worker.Start(Request());
        worker.Join();
    }
    const auto messages = view_.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].caption, "Fehler beim Aufräumen");
    EXPECT_NE(messages[0].text.find("'stuck.dll'"), std::string::npos);
    const std::string status = view_.StatusText();
    EXPECT_NE(status.find("Launcherdaten werden aufgeräumt ..\r\nEntferne 'stuck.dll' ..\r\n"
                          "Aktualisiere den Client ..\r\n"),
              std::string::npos);
    EXPECT_EQ(status.find("other.dll"), std::string::npos);  // the rest of the list is not run
    EXPECT_EQ(status.find(kAbort), std::string::npos);
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, ACleanupFailureAnsweredNoEndsTheRun) {
    Publish("launcher", {{"operations.txt", "client remove stuck.dll\n"}});
    test::WriteTestFile(Game("stuck.dll"), "x");
    const FailingRemover failing;
    view_.Answer(PromptAnswer::No);
    PatchRunSeams seams = Seams();
    seams.remover = &failing;
    {
        PatchWorker worker(view_, platform_, seams);
        worker.Start(Request());
        worker.Join();
    }
    const std::string status = view_.StatusText();
    EXPECT_EQ(status.substr(status.size() - kAbort.size()), kAbort);
    EXPECT_NE(status.find("Entferne 'stuck.dll' ..\r\n" + kAbort), std::string::npos);
    EXPECT_EQ(view_.Count("LeavePatchingLayout"), 1);
    EXPECT_FALSE(Happened("EndDialog:0"));
    EXPECT_TRUE(platform_.programStarts.empty());
}

TEST_F(PatchRunTest, ATransferErrorIsReportedAndLeavesTheDialogUsable) {
    PatchRunRequest request = Request();
    request.profile->RepoPath =
        "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/game/";
    view_.Answer(PromptAnswer::Ok);

    Run(std::move(request));

    const auto messages = view_.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].caption, "Datenübertragungsfehler");
    EXPECT_NE(messages[0].text.find("Die Dateiliste konnte nicht abgerufen werden!"),
              std::string::npos);
    EXPECT_EQ(messages[0].icon, PromptIcon::Error);
    EXPECT_EQ(view_.StatusText(),
              "Aktualisiere den Launcher ..\r\n"
              "Rufe Dateiliste ab ..\r\n"
              "\r\n"
              "Aktualisiere den Client ..\r\n"
              "Rufe Dateiliste ab ..\r\n" +
                  kAbort);
    const std::vector<std::string> events = view_.Events();
    const auto box = std::find(events.begin(), events.end(), "ShowMessage:" + messages[0].caption);
    ASSERT_NE(box, events.end());
    EXPECT_EQ(*(box - 2), "SetProgressPosition:0");
    EXPECT_EQ(*(box - 1), "ShowTransferTexts:0");
    EXPECT_EQ(*(box + 1), "LeavePatchingLayout");
    EXPECT_EQ(view_.Progress().back(), 0);
    EXPECT_FALSE(Happened("EndDialog:0"));

    // The dialog is usable again: a new run on a working repository completes.
    RecordingView again;
    {
        PatchWorker worker(again, platform_, Seams());
        worker.Start(Request());
        worker.Join();
    }
    EXPECT_EQ(again.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, ACountdownRunsFiveSecondsThenPatches) {
    Run(Request(kAutoStartCountdownSeconds));
    EXPECT_EQ(view_.Captions(),
              (std::vector<std::string>{"Automatisch starten (5)", "Automatisch starten (4)",
                                        "Automatisch starten (3)", "Automatisch starten (2)",
                                        "Automatisch starten (1)", "Automatisch starten"}));
    const std::vector<milliseconds> sleeps = Sleeps();
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), milliseconds(1000)), 5);
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, ACountdownCalledOffInItsLastSecondStartsNothing) {
    PatchWorker worker(view_, platform_, Seams());
    int seconds = 0;
    onSleep_ = [&](milliseconds) {
        if (++seconds == 5)
            worker.CancelCountdown();
    };
    worker.Start(Request(kAutoStartCountdownSeconds));
    worker.Join();

    EXPECT_EQ(view_.Captions().size(), 6U);
    EXPECT_EQ(view_.Captions().back(), "Automatisch starten");
    EXPECT_EQ(view_.Events(),
              (std::vector<std::string>{"ClearStatusText", "EnableProfileSelector:0",
                                        "SetAutoStartCaption:Automatisch starten (5)",
                                        "SetAutoStartCaption:Automatisch starten (4)",
                                        "SetAutoStartCaption:Automatisch starten (3)",
                                        "SetAutoStartCaption:Automatisch starten (2)",
                                        "SetAutoStartCaption:Automatisch starten (1)",
                                        "SetAutoStartCaption:Automatisch starten"}));
    EXPECT_EQ(Saves(), 0);
    EXPECT_TRUE(served_->server().requests().empty());
}

TEST_F(PatchRunTest, ACountdownCalledOffBeforeTheRunReachesItIsNotLost) {
    // The run's thread is held at its first call until the dialog has called the countdown off.
    std::promise<void> calledOff;
    std::shared_future<void> released = calledOff.get_future().share();
    view_.OnEvent([released](const std::string& event) {
        if (event == "ClearStatusText")
            released.wait();
    });
    PatchWorker worker(view_, platform_, Seams());
    worker.Start(Request(kAutoStartCountdownSeconds));
    worker.CancelCountdown();
    calledOff.set_value();
    worker.Join();
    EXPECT_EQ(view_.Count("EnterPatchingLayout"), 0);
    EXPECT_EQ(view_.Captions(), std::vector<std::string>{"Automatisch starten"});
}

TEST_F(PatchRunTest, TheRealCountdownEndsSoonAfterItIsCalledOff) {
    PatchWorker worker(view_, platform_);  // real pauses
    view_.OnEvent([&](const std::string& event) {
        if (event == "SetAutoStartCaption:Automatisch starten (4)")
            worker.CancelCountdown();
    });
    const auto begin = std::chrono::steady_clock::now();
    worker.Start(Request(kAutoStartCountdownSeconds));
    worker.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(4));
    EXPECT_EQ(view_.Captions().back(), "Automatisch starten");
    EXPECT_FALSE(Happened("EnterPatchingLayout"));
}

TEST_F(PatchRunTest, TheRegistryStepDeclinedEndsTheRun) {
    PatchRunRequest request = Request();
    request.profile->SetRegistryPath = true;
    request.profile->ExecuteAfterPatch = Game("client.exe");
    view_.Answer(PromptAnswer::No);

    Run(std::move(request));

    EXPECT_EQ(view_.Messages().size(), 1U);
    EXPECT_TRUE(platform_.elevatedRuns.empty());
    EXPECT_TRUE(platform_.programStarts.empty());
    const std::string status = view_.StatusText();
    EXPECT_EQ(status.substr(status.size() - kAbort.size()), kAbort);
    EXPECT_FALSE(Happened("EndDialog:0"));
}

TEST_F(PatchRunTest, TheRegistryIsWrittenWhenElevated) {
    PatchRunRequest request = Request();
    request.profile->SetRegistryPath = true;
    platform_.elevated = true;
    Run(std::move(request));
    EXPECT_EQ(platform_.writtenExePaths, std::vector<std::string>{Game("client.exe")});
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, TheGameStartRunsAStandInProgramInItsFolder) {
    const std::string marker = Game("started.txt");
    // The stand-in gets no arguments: it writes its working folder next to that folder. The
    // marker is renamed into place so that it never exists half written.
    test::WriteTestFile(Game("tools/stand-in.sh"),
                        "#!/bin/sh\npwd > ../started.tmp && mv ../started.tmp ../started.txt\n");
    fs::permissions(Game("tools/stand-in.sh"),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    PatchRunRequest request = Request();
    request.profile->ExecuteAfterPatch = Game("tools/stand-in.sh");
    platform_.realProgramStarts = true;

    Run(std::move(request));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(marker) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(fs::exists(marker));
    EXPECT_EQ(test::ReadTestFile(marker), fs::canonical(Game("tools")).string() + "\n");
    EXPECT_NE(view_.StatusText().find("Individuelle Anwendung wird gestartet ..\r\n"),
              std::string::npos);
    EXPECT_TRUE(view_.Messages().empty());
}

TEST_F(PatchRunTest, ARefusedCleanupLineIsShownAndRemovesNothing) {
    Publish("launcher", {{"operations.txt", "client remove ..\\launcher\\operations.txt\n"}});
    Run(Request());
    EXPECT_TRUE(fs::exists(Launcher("operations.txt")));
    EXPECT_NE(view_.StatusText().find("Unzulässiger Pfad '..\\launcher\\operations.txt' wird "
                                      "übersprungen ..\r\n"),
              std::string::npos);
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, NoAccessToTheGameFolderAsksAndRepairsElevated) {
    platform_.folderAccess = false;
    view_.Answer(PromptAnswer::Yes);
    Run(Request());
    EXPECT_EQ(platform_.elevatedRuns,
              (std::vector<std::vector<std::string>>{{"-repair", gameFolder_, "-rrights"}}));
    EXPECT_EQ(platform_.elevatedWaits, std::vector<milliseconds>{milliseconds(120000)});
    const auto messages = view_.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].caption, "Zugriff verweigert");
    EXPECT_EQ(messages[0].text.rfind("Der Zugriff auf den lokalen Installationspfad wurden "
                                     "verweigert:\r\n\r\n" +
                                         gameFolder_ + "\r\n\r\nSoll",
                                     0),
              0U);
    EXPECT_EQ(messages[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

TEST_F(PatchRunTest, ARepairThatDoesNotHelpOrTakesTooLongIsReported) {
    for (const PatchPlatform::ElevatedRun outcome :
         {PatchPlatform::ElevatedRun::Finished, PatchPlatform::ElevatedRun::TimedOut}) {
        RecordingView view;
        RecordingPlatform platform;
        platform.folderAccess = false;
        platform.folderAccessAfterRepair = outcome == PatchPlatform::ElevatedRun::TimedOut;
        platform.repairOutcome = outcome;
        view.Answer(PromptAnswer::Yes).Answer(PromptAnswer::Ok);
        {
            PatchWorker worker(view, platform, Seams());
            worker.Start(Request());
            worker.Join();
        }
        const auto messages = view.Messages();
        ASSERT_EQ(messages.size(), 2U);
        EXPECT_EQ(messages[1].text,
                  "Es ist ein Fehler beim Korrigieren der Zugriffsberechtigungen aufgetreten."
                  "\r\n\r\nWeitere Hilfe findest du im Wiki/Forum oder beim technischen Support.");
        EXPECT_EQ(view.StatusText().substr(view.StatusText().size() - kAbort.size()), kAbort);
    }
}

TEST_F(PatchRunTest, AccessDeclinedOrRepairNotStartedEndsWithoutAnotherMessage) {
    for (const bool declined : {true, false}) {
        RecordingView view;
        RecordingPlatform platform;
        platform.folderAccess = false;
        platform.repairOutcome = PatchPlatform::ElevatedRun::NotStarted;
        view.Answer(declined ? PromptAnswer::No : PromptAnswer::Yes);
        {
            PatchWorker worker(view, platform, Seams());
            worker.Start(Request());
            worker.Join();
        }
        EXPECT_EQ(view.Messages().size(), 1U);
        EXPECT_EQ(platform.elevatedRuns.size(), declined ? 0U : 1U);
        EXPECT_EQ(view.Count("LeavePatchingLayout"), 1);
    }
}

TEST_F(PatchRunTest, ARunWithoutAProfileStopsBeforeTheGame) {
    PatchRunRequest request = Request();
    request.profile.reset();
    Run(std::move(request));
    EXPECT_NE(view_.StatusText().find("Es ist kein Profil ausgewählt.\r\n" + kAbort),
              std::string::npos);
    EXPECT_EQ(platform_.accessChecks, 0);
}

// A server that fails for a moment is tried again, and the player sees why the run waits.
TEST_F(PatchRunTest, AConnectionTriedAgainIsToldInTheStatusLog) {
    Publish("game", {{"client.exe", "the game client"}});
    const ScopedEnv quickRetry("VELDMOOR_RETRY_PAUSE_MS", "1");
    test::MisbehavingServer flaky(temp_ / "server", test::Misbehaviour{.failFirst = 1});
    PatchRunRequest request = Request();
    request.noSelfPatch = true;
    request.profile->RepoPath = flaky.address("game");

    Run(std::move(request));

    EXPECT_NE(view_.StatusText().find("Verbindung unterbrochen"), std::string::npos)
        << view_.StatusText();
    EXPECT_EQ(test::ReadTestFile(Game("client.exe")), "the game client");
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

}  // namespace
}  // namespace veldmoor::testing
