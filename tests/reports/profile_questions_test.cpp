#include "ui/profile_questions.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <string>

#include "profiles/addresses.h"
#include "profiles/legacy_contexts.h"
#include "profiles/repo_migration.h"
#include "system/folders.h"
#include "tests/profiles/file_size_limit.h"
#include "tests/profiles/temp_folder.h"
#include "tests/support/fake_wine.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_prompt.h"

namespace veldmoor {
namespace {

using testing::FakeWine;
using testing::FileSizeLimit;
using testing::ScopedEnv;
using testing::ScriptedPrompt;
using testing::TempFolder;

constexpr char kChooseFolder[] = "Gib einen Ordner an, in den das Spiel installiert werden soll.";
constexpr char kPickInstallFolderTitle[] =
    "Ordner für die Spielinstallation wählen (ein neuer Ordner kann angelegt werden)";

std::string LauncherFolderText(const std::string& path) {
    return "Der von dir ausgewählte Zielpfad ist der Launcher-Pfad. Wir empfehlen "
           "für "
           "das Spiel einen anderen Pfad zu verwenden, da es sonst zu Problemen kommen "
           "kann.\r\n\r\n" +
           path + "\r\n\r\nMöchtest du das Spiel dennoch in diesen Zielpfad installieren?";
}

std::string NotEmptyText(const std::string& path) {
    return "Der von dir ausgewählte Zielpfad ist nicht leer!\r\n\r\n" + path +
           "\r\n\r\nMöchtest du das Spiel dennoch in diesen Zielpfad installieren?";
}

// Runs each test with a fake Wine registry, in a temporary launcher folder as the current
// directory, next to a temporary folder for game installations.
class InstallPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory_ = CurrentDirectory();
        launcher_ = games_.Join("launcher");
        std::filesystem::create_directories(launcher_);
        games_.Write("launcher/Launcher", "program");
        ASSERT_TRUE(ChangeCurrentFolder(launcher_));
    }
    void TearDown() override { ChangeCurrentFolder(previousDirectory_); }

    std::string MakeFolder(const std::string& name, bool withFile = false) const {
        const std::string folder = games_.Join(name);
        std::filesystem::create_directories(folder);
        if (withFile) {
            games_.Write(name + "/readme.txt", "x");
        }
        return folder;
    }
    // The Windows form of a local path as the registry holds it.
    static std::string WindowsForm(std::string path) {
        for (char& c : path) {
            if (c == '/') {
                c = '\\';
            }
        }
        return "Z:" + path;
    }

    TempFolder games_;
    FakeWine wine_;
    ScopedEnv override_{kServerOverrideVariable, "https://sync.test"};
    std::string launcher_;
    std::string previousDirectory_;
    ScriptedPrompt prompt_;
};

TEST_F(InstallPathTest, RegistryInstallationTakenOnYes) {
    const std::string game = MakeFolder("uo", true);
    wine_.SetExePath(WindowsForm(game + "/client.exe"));
    prompt_.Answer(PromptAnswer::Yes);
    PatchContext profile;
    ASSERT_TRUE(AcquireInstallPath(prompt_, profile, true));
    EXPECT_EQ(profile.PatchPath, game);
    EXPECT_EQ(profile.ExecuteAfterPatch, game + "/client.exe");
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0].text,
              "Es wurde eine UO Installation gefunden unter: " + game +
                  "\r\n\r\nSoll diese genutzt werden? Wenn nicht dann muss ein Ordner angegeben "
                  "werden!");
    EXPECT_EQ(prompt_.messages[0].caption, "");
    EXPECT_EQ(prompt_.messages[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(prompt_.messages[0].icon, PromptIcon::None);
    EXPECT_TRUE(prompt_.folderRequests.empty());
}

TEST_F(InstallPathTest, RegistryInstallationDeclinedGoesStraightToThePicker) {
    const std::string game = MakeFolder("uo", true);
    const std::string chosen = MakeFolder("new");
    wine_.SetExePath(WindowsForm(game + "/client.exe"));
    prompt_.Answer(PromptAnswer::No).PickFolderAnswer(chosen);
    PatchContext profile;
    ASSERT_TRUE(AcquireInstallPath(prompt_, profile, true));
    EXPECT_EQ(profile.PatchPath, chosen);
    EXPECT_EQ(profile.ExecuteAfterPatch, chosen + "/client.exe");
    EXPECT_EQ(prompt_.messages.size(), 1u);  // no "Gib einen Ordner an" after No
    ASSERT_EQ(prompt_.folderRequests.size(), 1u);
    EXPECT_EQ(prompt_.folderRequests[0].title, kPickInstallFolderTitle);
}

// The picker opens at the person's games folder, or at home while there is none (never on an
// empty "recent" view); from the editor at the profile's present folder.
TEST_F(InstallPathTest, ThePickerStartsAtTheGamesFolderOrHome) {
    const std::string home = MakeFolder("home");
    const ScopedEnv homeEnv("HOME", home);
    PatchContext profile;
    prompt_.Answer(PromptAnswer::Ok).PickFolderAnswer(std::nullopt);
    EXPECT_FALSE(AcquireInstallPath(prompt_, profile, false));
    MakeFolder("home/Games");
    prompt_.Answer(PromptAnswer::Ok).PickFolderAnswer(std::nullopt);
    EXPECT_FALSE(AcquireInstallPath(prompt_, profile, false));
    // The editor's picker starts at the profile's present folder, while it exists.
    const std::string present = MakeFolder("home/Games/Veldmoor");
    for (const std::string& start : {present, present + "/gone"}) {
        prompt_.PickFolderAnswer(std::nullopt);
        EXPECT_EQ(BrowseForTargetFolder(prompt_, BrowseMode::Editor, start), std::nullopt);
    }
    ASSERT_EQ(prompt_.folderRequests.size(), 4u);
    EXPECT_EQ(prompt_.folderRequests[0].initialFolder, home);
    EXPECT_EQ(prompt_.folderRequests[1].initialFolder, home + "/Games");
    EXPECT_EQ(prompt_.folderRequests[1].title, kPickInstallFolderTitle);
    EXPECT_EQ(prompt_.folderRequests[2].initialFolder, present);
    EXPECT_EQ(prompt_.folderRequests[3].initialFolder, home + "/Games");
}

TEST_F(InstallPathTest, WithoutAUsableRegistryEntryThePersonIsAskedForAFolder) {
    const std::string game = MakeFolder("uo", true);
    struct Case {
        const char* why;
        std::optional<std::string> exePath;
        bool offer;
    };
    const Case cases[] = {
        {"offer disabled", WindowsForm(game + "/client.exe"), false},
        {"no value", std::nullopt, true},
        {"no separator", std::string("client.exe"), true},
        {"folder missing", WindowsForm(games_.Join("gone/client.exe")), true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(wine_.prefix() / "fake-registry" / "ExePath");
        if (c.exePath) {
            wine_.SetExePath(*c.exePath);
        }
        const std::string chosen = MakeFolder(std::string("pick-") + c.why);
        ScriptedPrompt prompt;
        prompt.Answer(PromptAnswer::Ok).PickFolderAnswer(chosen);
        PatchContext profile;
        ASSERT_TRUE(AcquireInstallPath(prompt, profile, c.offer)) << c.why;
        EXPECT_EQ(profile.PatchPath, chosen) << c.why;
        ASSERT_EQ(prompt.messages.size(), 1u) << c.why;
        EXPECT_EQ(prompt.messages[0].text, kChooseFolder) << c.why;
        EXPECT_EQ(prompt.messages[0].caption, kProductName) << c.why;
        EXPECT_EQ(prompt.messages[0].buttons, PromptButtons::Ok) << c.why;
        EXPECT_EQ(prompt.messages[0].icon, PromptIcon::None) << c.why;
    }
}

TEST_F(InstallPathTest, CancelledPickerLeavesTheProfileUnchanged) {
    prompt_.Answer(PromptAnswer::Ok).PickFolderAnswer(std::nullopt);
    PatchContext profile;
    profile.PatchPath = "/old";
    EXPECT_FALSE(AcquireInstallPath(prompt_, profile, false));
    EXPECT_EQ(profile.PatchPath, "/old");
    EXPECT_TRUE(profile.ExecuteAfterPatch.empty());
}

TEST_F(InstallPathTest, MissingFolderIsCreatedOneLevelDeep) {
    const std::string created = games_.Join("fresh");
    prompt_.Answer(PromptAnswer::Ok).PickFolderAnswer(created);
    PatchContext profile;
    ASSERT_TRUE(AcquireInstallPath(prompt_, profile, false));
    EXPECT_TRUE(std::filesystem::is_directory(created));
    EXPECT_EQ(profile.PatchPath, created);
}

TEST_F(InstallPathTest, FolderThatCannotBeCreatedIsReported) {
    const std::string tooDeep = games_.Join("a/b");
    prompt_.Answer(PromptAnswer::Ok).PickFolderAnswer(tooDeep).Answer(PromptAnswer::Ok);
    PatchContext profile;
    EXPECT_FALSE(AcquireInstallPath(prompt_, profile, false));
    EXPECT_FALSE(std::filesystem::exists(tooDeep));
    EXPECT_TRUE(profile.PatchPath.empty());
    ASSERT_EQ(prompt_.messages.size(), 2u);
    EXPECT_EQ(prompt_.messages[1].text, "Fehler! Der Ordner konnte nicht erstellt werden!");
    EXPECT_EQ(prompt_.messages[1].caption, "");
    EXPECT_EQ(prompt_.messages[1].buttons, PromptButtons::Ok);
    EXPECT_EQ(prompt_.messages[1].icon, PromptIcon::Error);
}

TEST_F(InstallPathTest, LauncherFolderInMainDialogMode) {
    const std::string other = MakeFolder("other");
    // No: pick again.
    prompt_.PickFolderAnswer(launcher_).Answer(PromptAnswer::No).PickFolderAnswer(other);
    EXPECT_EQ(BrowseForTargetFolder(prompt_, BrowseMode::MainDialog), other);
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0].text, LauncherFolderText(launcher_));
    EXPECT_EQ(prompt_.messages[0].caption, "Zielpfad ist Launcherpfad");
    EXPECT_EQ(prompt_.messages[0].buttons, PromptButtons::YesNoCancel);
    EXPECT_EQ(prompt_.messages[0].icon, PromptIcon::Information);
    EXPECT_EQ(prompt_.folderRequests.size(), 2u);

    // Yes: taken without the emptiness check (the launcher folder is not empty).
    ScriptedPrompt yes;
    yes.PickFolderAnswer(launcher_).Answer(PromptAnswer::Yes);
    EXPECT_EQ(BrowseForTargetFolder(yes, BrowseMode::MainDialog), launcher_);
    EXPECT_EQ(yes.messages.size(), 1u);

    ScriptedPrompt cancel;
    cancel.PickFolderAnswer(launcher_).Answer(PromptAnswer::Cancel);
    EXPECT_EQ(BrowseForTargetFolder(cancel, BrowseMode::MainDialog), std::nullopt);
}

TEST_F(InstallPathTest, LauncherFolderInEditorMode) {
    prompt_.PickFolderAnswer(launcher_).Answer(PromptAnswer::No);
    EXPECT_EQ(BrowseForTargetFolder(prompt_, BrowseMode::Editor), std::nullopt);
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(prompt_.folderRequests.size(), 1u);

    ScriptedPrompt yes;
    yes.PickFolderAnswer(launcher_).Answer(PromptAnswer::Yes);
    EXPECT_EQ(BrowseForTargetFolder(yes, BrowseMode::Editor), launcher_);
}

TEST_F(InstallPathTest, LauncherFolderCheckComparesExactly) {
    // A trailing separator makes it another text: only the emptiness check applies.
    prompt_.PickFolderAnswer(launcher_ + "/").Answer(PromptAnswer::Yes);
    EXPECT_EQ(BrowseForTargetFolder(prompt_, BrowseMode::MainDialog), launcher_ + "/");
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0].caption, "Zielpfad nicht leer");
}

TEST_F(InstallPathTest, NonEmptyFolderInBothModes) {
    const std::string busy = MakeFolder("busy", true);
    const std::string empty = MakeFolder("empty");
    prompt_.PickFolderAnswer(busy).Answer(PromptAnswer::No).PickFolderAnswer(empty);
    EXPECT_EQ(BrowseForTargetFolder(prompt_, BrowseMode::MainDialog), empty);
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0].text, NotEmptyText(busy));
    EXPECT_EQ(prompt_.messages[0].caption, "Zielpfad nicht leer");
    EXPECT_EQ(prompt_.messages[0].buttons, PromptButtons::YesNoCancel);
    EXPECT_EQ(prompt_.messages[0].icon, PromptIcon::Information);

    for (const auto& [mode, answer, expected] :
         {std::tuple{BrowseMode::MainDialog, PromptAnswer::Yes, true},
          std::tuple{BrowseMode::MainDialog, PromptAnswer::Cancel, false},
          std::tuple{BrowseMode::Editor, PromptAnswer::Yes, true},
          std::tuple{BrowseMode::Editor, PromptAnswer::No, false}}) {
        ScriptedPrompt prompt;
        prompt.PickFolderAnswer(busy).Answer(answer);
        const std::optional<std::string> result = BrowseForTargetFolder(prompt, mode);
        EXPECT_EQ(result.has_value(), expected);
        EXPECT_EQ(prompt.folderRequests.size(), 1u);
        EXPECT_TRUE(prompt.ScriptUsedUp());
        if (mode == BrowseMode::Editor) {
            EXPECT_EQ(prompt.messages[0].buttons, PromptButtons::YesNo);
        }
    }
}

TEST_F(InstallPathTest, ExistingInstallationIsTakenWithoutAQuestion) {
    const std::string installation = MakeFolder("installed", true);
    games_.Write("installed/client.exe", "MZ");
    prompt_.PickFolderAnswer(installation);
    EXPECT_EQ(BrowseForTargetFolder(prompt_, BrowseMode::MainDialog), installation);
    EXPECT_TRUE(prompt_.messages.empty());

    // client.exe must be a file: a folder of that name marks nothing.
    const std::string odd = MakeFolder("odd");
    std::filesystem::create_directories(odd + "/client.exe");
    ScriptedPrompt prompt;
    prompt.PickFolderAnswer(odd).Answer(PromptAnswer::Cancel);
    EXPECT_EQ(BrowseForTargetFolder(prompt, BrowseMode::MainDialog), std::nullopt);
    EXPECT_EQ(prompt.messages.size(), 1u);
}

TEST_F(InstallPathTest, FolderTooLongForAProfileIsRefused) {
    const std::string tooLong = "/" + std::string(kInstallFolderMaxLength, 'x');
    const std::string fine = MakeFolder("fine");
    prompt_.PickFolderAnswer(tooLong).Answer(PromptAnswer::Ok).PickFolderAnswer(fine);
    EXPECT_EQ(BrowseForTargetFolder(prompt_, BrowseMode::MainDialog), fine);
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_EQ(prompt_.messages[0].icon, PromptIcon::Error);
    EXPECT_NE(prompt_.messages[0].text.find(tooLong), std::string::npos);
    EXPECT_NE(prompt_.messages[0].text.find("248"), std::string::npos);

    ScriptedPrompt editor;
    editor.PickFolderAnswer(tooLong).Answer(PromptAnswer::Ok);
    EXPECT_EQ(BrowseForTargetFolder(editor, BrowseMode::Editor), std::nullopt);
    // The longest accepted folder still leaves room for the program to start.
    const std::string longest = std::string(kInstallFolderMaxLength, 'y');
    PatchContext profile;
    profile.PatchPath = longest;
    profile.ExecuteAfterPatch = longest + "/client.exe";
    EXPECT_EQ(profile.ExecuteAfterPatch, longest + "/client.exe");
}

TEST_F(InstallPathTest, CheckInstallPathAcceptsAnExistingFolderSilently) {
    PatchContextList list;
    PatchContext profile;
    profile.PatchPath = MakeFolder("uo");
    list.Add(profile);
    EXPECT_TRUE(CheckInstallPath(prompt_, list, 0));
    EXPECT_TRUE(prompt_.messages.empty());
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_FALSE(CheckInstallPath(prompt_, list, 1));
}

TEST_F(InstallPathTest, CheckInstallPathOffersTheRegistryOnlyToTheDefaultProfile) {
    const std::string game = MakeFolder("uo", true);
    wine_.SetExePath(WindowsForm(game + "/client.exe"));
    PatchContextList list;
    PatchContext build;
    build.RepoPath = "https://sync.test/bau/";
    build.PatchPath = games_.Join("missing");
    list.Add(build);

    // Not the default profile: no offer, even though the registry has an installation. The
    // default profile is appended behind it and the index stays valid.
    const std::string chosen = MakeFolder("build");
    prompt_.Answer(PromptAnswer::Ok).PickFolderAnswer(chosen);
    EXPECT_TRUE(CheckInstallPath(prompt_, list, 0));
    EXPECT_EQ(prompt_.messages[0].text, kChooseFolder);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.At(0)->PatchPath, chosen);
    EXPECT_EQ(list.At(1)->Name, "Standardprofil");

    // The default profile gets the offer.
    ScriptedPrompt prompt;
    prompt.Answer(PromptAnswer::Yes);
    EXPECT_TRUE(CheckInstallPath(prompt, list, 1));
    EXPECT_EQ(list.At(1)->PatchPath, game);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].buttons, PromptButtons::YesNo);

    // Failure reports false.
    list.At(0)->PatchPath = games_.Join("missing");
    ScriptedPrompt cancel;
    cancel.Answer(PromptAnswer::Ok).PickFolderAnswer(std::nullopt);
    EXPECT_FALSE(CheckInstallPath(cancel, list, 0));
}

TEST_F(InstallPathTest, StartupWithoutProfilesEndsWhenTheFolderChoiceIsCancelled) {
    prompt_.Answer(PromptAnswer::Ok).PickFolderAnswer(std::nullopt);
    PatchContextList list;
    EXPECT_EQ(PrepareProfilesAtStartup(list, prompt_), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(launcher_ + "/profiles.xml"));
}

TEST_F(InstallPathTest, StartupWithoutProfilesCreatesAndSavesTheDefaultProfile) {
    const std::string game = MakeFolder("uo", true);
    wine_.SetExePath(WindowsForm(game + "/client.exe"));
    prompt_.Answer(PromptAnswer::Yes);
    PatchContextList list;
    EXPECT_EQ(PrepareProfilesAtStartup(list, prompt_), 0u);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.At(0)->Name, "Standardprofil");
    EXPECT_EQ(list.At(0)->RepoPath, "https://sync.test/srv/");
    EXPECT_EQ(list.At(0)->PatchPath, game);
    PatchContextList saved;  // profiles.xml in the current directory
    EXPECT_EQ(saved.Load(), 0u);
    EXPECT_EQ(*saved.At(0), *list.At(0));
}

TEST_F(InstallPathTest, StartupMigratesAndAddsTheDefaultProfileWithoutSaving) {
    const std::string stored =
        "<LastSelected value=\"1\" />\r\n<Profiles>\r\n"
        "\t<Profile>\r\n\t\t<Name value=\"Bau\" />\r\n\t\t<RepoPath value=\"" +
        LegacyBuildAddressOnBuildServer() +
        "\" />\r\n\t</Profile>\r\n"
        "\t<Profile>\r\n\t\t<Name value=\"Eigenes\" />\r\n\t\t<RepoPath "
        "value=\"https://sync.test/srv-test/\" />\r\n\t</Profile>\r\n</Profiles>\r\n";
    games_.Write("launcher/profiles.xml", stored);
    PatchContextList list;
    EXPECT_EQ(PrepareProfilesAtStartup(list, prompt_), 1u);
    EXPECT_TRUE(prompt_.messages.empty());
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.At(0)->RepoPath, "https://sync.test/bau/");
    EXPECT_EQ(list.At(1)->RepoPath, "https://sync.test/srv-test/");
    EXPECT_EQ(list.At(2)->Name, "Standardprofil");
    EXPECT_EQ(games_.Read("launcher/profiles.xml"), stored);
}

// A store that cannot be written is told to the player, naming the file and the reason; one
// that can be is saved without a word.
TEST(ProfileSaveNotice, AFailedSaveIsToldToThePlayer) {
    TempFolder folder;
    PatchContextList lost(folder.Join("does-not-exist"));
    ScriptedPrompt prompt;
    prompt.Answer(PromptAnswer::Ok);
    EXPECT_FALSE(SaveProfilesOrTell(lost, prompt));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].text.find(lost.ProfilesFilePath()), std::string::npos);
    EXPECT_NE(prompt.messages[0].text.find(lost.Save().Message()), std::string::npos);
    EXPECT_EQ(prompt.messages[0].icon, PromptIcon::Warning);

    PatchContextList kept(folder.path().string());
    EXPECT_TRUE(SaveProfilesOrTell(kept, prompt));
    EXPECT_EQ(prompt.messages.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(kept.ProfilesFilePath()));
}

// The one-time import of the older launcher's contexts file saves the store it makes: when
// that cannot be written the player is told so at start-up, and still gets the imported
// profiles for this session.
TEST_F(InstallPathTest, StartupTellsWhenTheImportedProfilesCannotBeSaved) {
    const std::string contexts("\x01\0\0\0\0\0\0\0", 8);  // one profile, the first selected
    std::string record(kLegacyContextRecordSize, '\0');
    record.replace(0, 3, "Alt");
    games_.Write("launcher/contexts", contexts + record);
    prompt_.Answer(PromptAnswer::Ok);
    PatchContextList list;
    const std::optional<std::size_t> selected = [&] {
        const FileSizeLimit limit(64);
        return PrepareProfilesAtStartup(list, prompt_);
    }();
    EXPECT_EQ(selected, 0u);
    EXPECT_EQ(list.At(0)->Name, "Alt");
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_NE(prompt_.messages[0].text.find("'profiles.xml'"), std::string::npos)
        << prompt_.messages[0].text;
    EXPECT_EQ(prompt_.messages[0].icon, PromptIcon::Warning);
    EXPECT_FALSE(std::filesystem::exists(launcher_ + "/profiles.xml"));
}

// A contexts file without a profile leaves the import with nothing: the default profile is made
// and saved next, and a store that cannot be written is told once, not once per attempt.
TEST_F(InstallPathTest, StartupTellsAStoreThatCannotBeSavedOnce) {
    games_.Write("launcher/contexts", std::string(8, '\0'));  // no profile
    const std::string game = MakeFolder("uo", true);
    wine_.SetExePath(WindowsForm(game + "/client.exe"));
    prompt_.Answer(PromptAnswer::Ok).Answer(PromptAnswer::Yes);  // the warning, the found game
    PatchContextList list;
    const std::optional<std::size_t> selected = [&] {
        const FileSizeLimit limit(16);
        return PrepareProfilesAtStartup(list, prompt_);
    }();
    EXPECT_EQ(selected, 0u);
    EXPECT_EQ(list.At(0)->PatchPath, game);
    const auto warnings =
        std::count_if(prompt_.messages.begin(), prompt_.messages.end(),
                      [](const auto& m) { return m.icon == PromptIcon::Warning; });
    EXPECT_EQ(warnings, 1);
}

}  // namespace
}  // namespace veldmoor
