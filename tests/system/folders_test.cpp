#include "system/folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "tests/support/scoped_env.h"

namespace veldmoor {
namespace {

using testing::ScopedEnv;

TEST(TemporaryDirectory, HonoursTmpdirAndAlwaysEndsWithASeparator) {
    {
        ScopedEnv tmp("TMPDIR", "/var/tmp/veldmoor-test");
        EXPECT_EQ(TemporaryDirectory(), "/var/tmp/veldmoor-test/");
    }
    {
        ScopedEnv tmp("TMPDIR", "/var/tmp/");
        EXPECT_EQ(TemporaryDirectory(), "/var/tmp/");
    }
    {
        ScopedEnv tmp("TMPDIR", std::nullopt);
        EXPECT_EQ(TemporaryDirectory(), "/tmp/");
    }
}

TEST(CurrentDirectory, FollowsChangeCurrentFolder) {
    const std::string before = CurrentDirectory();
    ASSERT_FALSE(before.empty());
    const auto folder = std::filesystem::canonical(std::filesystem::temp_directory_path());
    ASSERT_TRUE(ChangeCurrentFolder(folder.string()));
    EXPECT_EQ(CurrentDirectory(), folder.string());
    EXPECT_FALSE(ChangeCurrentFolder("/nonexistent/veldmoor/folder"));
    EXPECT_EQ(CurrentDirectory(), folder.string());
    EXPECT_FALSE(ChangeCurrentFolder(""));
    ASSERT_TRUE(ChangeCurrentFolder(before));
}

TEST(DocumentsFolder, OverrideWinsAndLosesItsTrailingSeparator) {
    ScopedEnv documents("VELDMOOR_DOCUMENTS_DIR", "/tmp/veldmoor-docs/");
    EXPECT_EQ(DocumentsFolder(), "/tmp/veldmoor-docs");
}

TEST(DocumentsFolder, ReadsTheUserDirsFileThenFallsBackToHomeDocuments) {
    const auto home = std::filesystem::temp_directory_path() / "veldmoor-folders-home";
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home / ".config");
    ScopedEnv documents("VELDMOOR_DOCUMENTS_DIR", std::nullopt);
    ScopedEnv xdgDocuments("XDG_DOCUMENTS_DIR", std::nullopt);
    ScopedEnv xdgConfig("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv homeEnv("HOME", home.string());

    EXPECT_EQ(DocumentsFolder(), (home / "Documents").string());

    std::ofstream(home / ".config" / "user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
           "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(DocumentsFolder(), (home / "Dokumente").string());

    // xdg-user-dirs writes the home folder itself when the folder is disabled.
    std::ofstream(home / ".config" / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/\"\n";
    EXPECT_EQ(DocumentsFolder(), (home / "Documents").string());
    std::filesystem::remove_all(home);
}

// The settings repair running as root looks for the player's settings in the player's own
// Documents folder, which on a German desktop is called Dokumente.
TEST(DocumentsFolderOfHome, ReadsThatPersonsUserDirsFileNotTheEnvironment) {
    const auto home = std::filesystem::temp_directory_path() / "veldmoor-folders-other-home";
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home / ".config");
    ScopedEnv xdgDocuments("XDG_DOCUMENTS_DIR", "/elsewhere/Documents");
    ScopedEnv xdgConfig("XDG_CONFIG_HOME", "/elsewhere/.config");

    EXPECT_EQ(DocumentsFolderOfHome(home.string()), (home / "Documents").string());
    std::ofstream(home / ".config" / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    EXPECT_EQ(DocumentsFolderOfHome(home.string()), (home / "Dokumente").string());
    EXPECT_EQ(DocumentsFolderOfHome(""), "");
    std::filesystem::remove_all(home);
}

TEST(UserDataFolder, FollowsXdgDataHomeAndIgnoresARelativeOne) {
    ScopedEnv homeEnv("HOME", "/home/spieler");
    ScopedEnv xdgData("XDG_DATA_HOME", "/data/spieler/");
    EXPECT_EQ(UserDataFolder(), "/data/spieler/veldmoor-launcher");
    for (const std::optional<std::string>& unusable : {std::optional<std::string>(std::nullopt),
                                                       std::optional<std::string>("relative")}) {
        ScopedEnv xdgUnusable("XDG_DATA_HOME", unusable);
        EXPECT_EQ(UserDataFolder(), "/home/spieler/.local/share/veldmoor-launcher");
    }
}

TEST(ProgramFilePath, NamesThisTestBinary) {
    const std::string path = ProgramFilePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::path(path).filename(), "system_tests");
    EXPECT_EQ(LauncherFolder(), std::filesystem::path(path).parent_path().string());
}

}  // namespace
}  // namespace veldmoor
