#include "patch/game_start.h"

#include <gtest/gtest.h>

#include "patch/system_patch_platform.h"
#include "tests/support/fake_wine.h"
#include "tests/support/temp_dir.h"
#include "tests/system_posix/stand_in_programs.h"
#include "tests/workflow/recording_platform.h"
#include "tests/workflow/recording_view.h"
#include "ui/report_texts.h"

namespace veldmoor {
namespace {

using testing::RecordingPlatform;
using testing::RecordingView;

PatchContext ProfileAt(const std::string& folder) {
    PatchContext profile;
    profile.PatchPath = folder;
    profile.SetRegistryPath = true;
    return profile;
}

TEST(DirectoryOfPath, TakesTheTextBeforeTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(DirectoryOfPath("/games/veldmoor/client.exe"), "/games/veldmoor");
    EXPECT_EQ(DirectoryOfPath("C:\\Spiele\\Veldmoor\\client.exe"), "C:\\Spiele\\Veldmoor");
    EXPECT_EQ(DirectoryOfPath("C:\\Spiele/Veldmoor\\x.exe"), "C:\\Spiele/Veldmoor");
    EXPECT_EQ(DirectoryOfPath("client.exe"), "");
    EXPECT_EQ(DirectoryOfPath("/client.exe"), "");
}

TEST(ApplyRegistryPath, AnEntryEqualInOtherCaseIsLeftAlone) {
    RecordingView view;
    RecordingPlatform platform;
    platform.exePath = "/GAMES/Veldmoor/CLIENT.EXE";
    EXPECT_EQ(ApplyRegistryPath(ProfileAt("/games/veldmoor"), view, platform, {}),
              RegistryStep::Done);
    EXPECT_TRUE(platform.writtenExePaths.empty());
    EXPECT_TRUE(view.Messages().empty());
}

TEST(ApplyRegistryPath, WithRightsTheEntryIsWrittenWithOneSeparator) {
    RecordingView view;
    RecordingPlatform platform;
    platform.elevated = true;
    platform.exePath = "/elsewhere/client.exe";
    EXPECT_EQ(ApplyRegistryPath(ProfileAt("/games/veldmoor/"), view, platform, {}),
              RegistryStep::Done);
    EXPECT_EQ(platform.writtenExePaths, std::vector<std::string>{"/games/veldmoor/client.exe"});
}

TEST(ApplyRegistryPath, WithoutRightsYesSavesAndRestartsElevatedNoDeclines) {
    RecordingView view;
    RecordingPlatform platform;
    int saves = 0;
    view.Answer(PromptAnswer::No).Answer(PromptAnswer::Yes);

    EXPECT_EQ(ApplyRegistryPath(ProfileAt("/g"), view, platform, [&saves] { ++saves; }),
              RegistryStep::Declined);
    EXPECT_EQ(saves, 0);
    EXPECT_TRUE(platform.elevatedRuns.empty());

    EXPECT_EQ(ApplyRegistryPath(ProfileAt("/g"), view, platform, [&saves] { ++saves; }),
              RegistryStep::ProcessEnding);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(platform.elevatedRuns, std::vector<std::vector<std::string>>{{"-instantpatch"}});
    EXPECT_EQ(platform.endProcessCodes, std::vector<int>{0});
    EXPECT_TRUE(platform.writtenExePaths.empty());

    const auto messages = view.Messages();
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_EQ(messages[0].caption, "");
    EXPECT_EQ(messages[0].text,
              "Für das verwendete Profil ist vermerkt, dass die Registrierung angepasst "
              "werden soll.\r\nDafür sind Administratorrechte erforderlich.\r\n\r\n"
              "Möchtest du fortfahren?");
    EXPECT_EQ(messages[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(messages[0].icon, PromptIcon::Information);
}

// The game's entry is the person's own (a Wine prefix of theirs): the launcher writes it itself,
// without administrator rights, and the next run finds it right and asks nothing.
TEST(ApplyRegistryPath, TheSystemWritesThePersonsOwnPrefixWithoutAskingForRights) {
    const testing::FakeWine wine;
    wine.SetExePath("Z:\\old\\client.exe");
    RecordingView view;
    SystemPatchPlatform platform;
    const PatchContext profile = ProfileAt("/games/veldmoor");
    EXPECT_EQ(ApplyRegistryPath(profile, view, platform, {}), RegistryStep::Done);
    EXPECT_EQ(wine.StoredExePath(), "Z:\\games\\veldmoor\\client.exe");
    EXPECT_TRUE(view.Messages().empty());
    EXPECT_EQ(ApplyRegistryPath(profile, view, platform, {}), RegistryStep::Done);
    EXPECT_TRUE(view.Messages().empty());
    EXPECT_EQ(wine.Calls().find("reg|add"), wine.Calls().rfind("reg|add"));
}

TEST(ApplyRegistryPath, AWriteThatDidNotHappenIsToldAndTheGameStillStarts) {
    const testing::FakeWine wine;
    wine.FailWrites();
    RecordingView view;
    view.Answer(PromptAnswer::Ok);
    SystemPatchPlatform platform;
    EXPECT_EQ(ApplyRegistryPath(ProfileAt("/games/veldmoor"), view, platform, {}),
              RegistryStep::Done);
    EXPECT_EQ(wine.StoredExePath(), std::nullopt);
    const auto messages = view.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].text, ComposeRegistryWriteFailed("/games/veldmoor/client.exe").text);
    EXPECT_EQ(messages[0].icon, PromptIcon::Warning);
}

TEST(StartGame, NothingToStartWritesNothing) {
    RecordingView view;
    RecordingPlatform platform;
    StartGame(ProfileAt("/g"), view, platform);
    EXPECT_TRUE(view.Events().empty());
    EXPECT_TRUE(platform.programStarts.empty());
}

TEST(StartGame, TheGameClientInOtherCaseIsAnnouncedAsTheGame) {
    RecordingView view;
    RecordingPlatform platform;
    PatchContext profile = ProfileAt("/games/veldmoor");
    profile.ExecuteAfterPatch = "/Games/Veldmoor/Client.exe";
    StartGame(profile, view, platform);
    EXPECT_EQ(view.StatusText(), "Spiel wird gestartet ..\r\n");
    ASSERT_EQ(platform.programStarts.size(), 1U);
    EXPECT_EQ(platform.programStarts[0].program, "/Games/Veldmoor/Client.exe");
    EXPECT_EQ(platform.programStarts[0].workingDirectory, "/Games/Veldmoor");
}

TEST(StartGame, AnotherProgramRunsInItsOwnFolderAndAFailureIsShown) {
    RecordingView view;
    RecordingPlatform platform;
    platform.startsSucceed = false;
    view.Answer(PromptAnswer::Ok);
    PatchContext profile =
        ProfileAt("/games/veldmoor/");  // a trailing separator: not the game path
    profile.ExecuteAfterPatch = "/games/veldmoor/client.exe";
    StartGame(profile, view, platform);
    EXPECT_EQ(view.StatusText(), "Individuelle Anwendung wird gestartet ..\r\n");
    EXPECT_EQ(platform.programStarts.at(0).workingDirectory, "/games/veldmoor");
    const auto messages = view.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].caption, "Fehler");
    EXPECT_EQ(messages[0].text,
              "Der Startprozess ist fehlgeschlagen.\r\n\r\nDie Anwendung an "
              "'/games/veldmoor/client.exe' konnte nicht ausgeführt werden.");
    EXPECT_EQ(messages[0].icon, PromptIcon::Error);
}

// The game runs through wine; when wine cannot run it (it ends at once with its failure), the
// player is told instead of left waiting for a game that never comes.
TEST(StartGame, AGameWineCannotRunIsReported) {
    test::TempDir temp("veldmoor-game-start");
    testing::WriteScript(temp / "bin/wine", "echo \"wine: cannot find $1\" >&2\nexit 53\n");
    const testing::ScopedEnv path("PATH", testing::PathWithFirst(temp / "bin"));
    test::WriteTestFile(temp / "game/client.exe", "MZ");
    RecordingView view;
    view.Answer(PromptAnswer::Ok);
    RecordingPlatform platform;
    platform.realProgramStarts = true;
    PatchContext profile = ProfileAt(temp / "game");
    profile.ExecuteAfterPatch = temp / "game/client.exe";
    StartGame(profile, view, platform);
    const auto messages = view.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].text, "Der Startprozess ist fehlgeschlagen.\r\n\r\nDie Anwendung an '" +
                                    (temp / "game/client.exe") +
                                    "' konnte nicht ausgeführt werden.");
}

}  // namespace
}  // namespace veldmoor
