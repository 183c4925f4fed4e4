#include "system/folder_rights.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/system_posix/stand_in_programs.h"

namespace veldmoor::testing {
namespace {

namespace fs = std::filesystem;

struct stat Examine(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
}
mode_t ModeOf(const std::string& path) {
    return Examine(path).st_mode & 07777;
}

class FolderRightsTest : public ::testing::Test {
protected:
    test::TempDir temp_{"veldmoor-rights"};
    std::string game_ = temp_ / "game";
    ScopedEnv pkexec_{"PKEXEC_UID", std::nullopt};
    ScopedEnv sudo_{"SUDO_UID", std::nullopt};
};

TEST_F(FolderRightsTest, AccessIsTheProcesssOwnOnAnExistingFolder) {
    fs::create_directories(game_);
    test::WriteTestFile(temp_ / "file", "x");
    EXPECT_TRUE(HasFolderAccess(game_, kFolderRead | kFolderWrite | kFolderExecute));
    EXPECT_FALSE(HasFolderAccess(temp_ / "missing", kFolderRead));
    EXPECT_FALSE(HasFolderAccess(temp_ / "file", kFolderRead));
}

// Answers for a folder the owner may only read and enter, asked as an ordinary user: bit 0 set
// when read+execute is granted, bit 1 set when read+write+execute is granted.
int AccessBitsAsOrdinaryUser(const std::string& folder) {
    const auto ask = [&folder] {
        return (HasFolderAccess(folder, kFolderRead | kFolderExecute) ? 1 : 0) |
               (HasFolderAccess(folder, kFolderRead | kFolderWrite | kFolderExecute) ? 2 : 0);
    };
    if (geteuid() != 0)
        return ask();
    // Root may write anywhere: the question is put by a child that has become "nobody".
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr)
        return -1;
    if (::chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
            setuid(nobody->pw_uid) != 0)
            _exit(100);
        _exit(ask());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(FolderRightsTest, AReadOnlyFolderLacksWriteAccess) {
    fs::create_directories(game_);
    ::chmod(temp_.path().c_str(), 0711);  // an ordinary user may pass through to the folder
    ::chmod(game_.c_str(), 0500);
    EXPECT_EQ(AccessBitsAsOrdinaryUser(game_), 1);
    ::chmod(game_.c_str(), 0700);
}

TEST_F(FolderRightsTest, RefusesEverythingThatIsNotPlainlyAGameFolder) {
    fs::create_directories(game_);
    test::WriteTestFile(temp_ / "other/notes.txt", "x");
    ::chmod((temp_ / "other/notes.txt").c_str(), 0600);
    fs::create_directory_symlink(game_, temp_ / "link");
    test::WriteTestFile(temp_ / "file", "x");

    EXPECT_FALSE(ResetFolderRights("/"));
    EXPECT_FALSE(ResetFolderRights("//"));
    EXPECT_FALSE(ResetFolderRights("game"));
    EXPECT_FALSE(ResetFolderRights(""));
    EXPECT_FALSE(ResetFolderRights(temp_ / "other/../game"));
    EXPECT_FALSE(ResetFolderRights(temp_ / "./game"));
    EXPECT_FALSE(ResetFolderRights(temp_ / "link"));
    EXPECT_FALSE(ResetFolderRights(temp_ / "file"));
    EXPECT_FALSE(ResetFolderRights(temp_ / "missing"));
    EXPECT_FALSE(ResetFolderRights(temp_ / "other"));  // files, but no client.exe
    EXPECT_EQ(ModeOf(temp_ / "other/notes.txt"), 0600U);
}

TEST_F(FolderRightsTest, AnEmptyFolderGetsTheFolderRights) {
    fs::create_directories(game_);
    ::chmod(game_.c_str(), 0700);
    EXPECT_TRUE(ResetFolderRights(game_));
    EXPECT_EQ(ModeOf(game_), 0775U);
    EXPECT_EQ(Examine(game_).st_uid, getuid());
}

TEST_F(FolderRightsTest, TheWholeTreeIsResetAndLinksAreNeverFollowed) {
    test::WriteTestFile(game_ + "/client.exe", "MZ");
    test::WriteTestFile(game_ + "/data/map.mul", "m");
    test::WriteTestFile(game_ + "/tools/run.sh", "#!/bin/sh\n");
    test::WriteTestFile(temp_ / "outside/secret.txt", "s");
    test::WriteTestFile(game_ + "/game/name with space/x", "x");
    ::chmod((game_ + "/data/map.mul").c_str(), 0600);
    ::chmod((game_ + "/tools/run.sh").c_str(), 0700);
    ::chmod((game_ + "/data").c_str(), 0700);
    ::chmod((temp_ / "outside/secret.txt").c_str(), 0600);
    ::chmod((temp_ / "outside").c_str(), 0700);
    fs::create_symlink(temp_ / "outside/secret.txt", game_ + "/data/link-to-file");
    fs::create_directory_symlink(temp_ / "outside", game_ + "/link-to-folder");

    std::optional<ScopedEnv> asNobody;
    const uid_t owner = geteuid() == 0 ? 65534 : getuid();
    if (geteuid() == 0)
        asNobody.emplace("PKEXEC_UID", "65534");

    ASSERT_TRUE(ResetFolderRights(game_));

    EXPECT_EQ(ModeOf(game_), 0775U);
    EXPECT_EQ(ModeOf(game_ + "/data"), 0775U);
    EXPECT_EQ(ModeOf(game_ + "/client.exe"), 0664U);
    EXPECT_EQ(ModeOf(game_ + "/data/map.mul"), 0664U);
    EXPECT_EQ(ModeOf(game_ + "/tools/run.sh"), 0764U);  // execute kept for its owner
    EXPECT_EQ(ModeOf(game_ + "/game/name with space/x"), 0664U);
    for (const char* entry : {"", "/data", "/data/map.mul", "/data/link-to-file", "/link-to-folder",
                              "/game/name with space/x"}) {
        EXPECT_EQ(Examine(game_ + entry).st_uid, owner) << entry;
    }
    EXPECT_EQ(ModeOf(temp_ / "outside/secret.txt"), 0600U);
    EXPECT_EQ(ModeOf(temp_ / "outside"), 0700U);
    EXPECT_EQ(Examine(temp_ / "outside/secret.txt").st_uid, geteuid());
    EXPECT_TRUE(fs::is_symlink(game_ + "/link-to-folder"));
}

// A second name of a file is the same file: changing it through the game folder would change a
// file that lives outside it.
TEST_F(FolderRightsTest, AFileWithAnotherNameOutsideIsLeftAlone) {
    test::WriteTestFile(game_ + "/client.exe", "MZ");
    test::WriteTestFile(temp_ / "outside/secret.txt", "s");
    ::chmod((temp_ / "outside/secret.txt").c_str(), 0600);
    fs::create_hard_link(temp_ / "outside/secret.txt", game_ + "/secret-link.txt");
    std::optional<ScopedEnv> asNobody;
    if (geteuid() == 0)
        asNobody.emplace("PKEXEC_UID", "65534");

    ASSERT_TRUE(ResetFolderRights(game_));

    EXPECT_EQ(ModeOf(game_ + "/client.exe"), 0664U);
    EXPECT_EQ(ModeOf(temp_ / "outside/secret.txt"), 0600U);
    EXPECT_EQ(Examine(temp_ / "outside/secret.txt").st_uid, geteuid());
}

}  // namespace
}  // namespace veldmoor::testing
