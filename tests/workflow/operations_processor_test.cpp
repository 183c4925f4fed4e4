#include "patch/operations_processor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "patch/operations_exception.h"
#include "tests/support/temp_dir.h"
#include "ui/run_texts.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;
using test::WriteTestFile;

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

TEST(MatchKeyword, SkipsLeadingBlanksAndNeedsABlankOrTheEndAfterTheWord) {
    std::size_t rest = 0;
    EXPECT_TRUE(MatchKeyword(" \t\r\nclient remove x", "client", rest));
    EXPECT_EQ(rest, 10U);
    EXPECT_TRUE(MatchKeyword("client", "client", rest));
    EXPECT_EQ(rest, 6U);
    EXPECT_FALSE(MatchKeyword("clientremove x", "client", rest));
    EXPECT_FALSE(MatchKeyword("clientele remove x", "client", rest));
    EXPECT_FALSE(MatchKeyword("Client remove x", "client", rest));
    EXPECT_FALSE(MatchKeyword("clie", "client", rest));
    EXPECT_FALSE(MatchKeyword("   ", "client", rest));
    EXPECT_FALSE(MatchKeyword("x client", "client", rest));
}

class OperationsTest : public ::testing::Test {
protected:
    OperationsTest() {
        fs::create_directories(launcher_);
        fs::create_directories(game_);
    }
    void WriteList(const std::string& content) {
        WriteTestFile(launcher_ + "/operations.txt", content);
    }
    // The status lines the window makes of what the cleanup reports.
    CleanupLog Log() {
        return [this](const CleanupNote& note) { log_.push_back(CleanupLine(note)); };
    }

    test::TempDir temp_{"veldmoor-operations"};
    std::string launcher_ = temp_ / "launcher";
    std::string game_ = temp_ / "game";
    std::vector<std::string> log_;
};

TEST_F(OperationsTest, RemovesAFileNamedWithBlanksAndBackslashes) {
    WriteTestFile(game_ + "/data/old.mul", "x");
    WriteTestFile(game_ + "/data/keep.mul", "x");
    WriteList("   client   remove   data\\old.mul   \r\n");
    EXPECT_TRUE(CleanupGameData(launcher_, game_, Log()));
    EXPECT_FALSE(Exists(game_ + "/data/old.mul"));
    EXPECT_TRUE(Exists(game_ + "/data/keep.mul"));
    EXPECT_EQ(log_, (std::vector<std::string>{"Spieldaten werden aufgeräumt ..",
                                              "Entferne 'data\\old.mul' .."}));
}

TEST_F(OperationsTest, LinesWithoutBlankOrWithAnotherCaseDoNothing) {
    WriteTestFile(game_ + "/a.txt", "x");
    WriteList(
        "clientremove a.txt\nClient remove a.txt\nclient delete a.txt\nlauncher remove a.txt\n");
    EXPECT_FALSE(CleanupGameData(launcher_, game_, Log()));
    EXPECT_TRUE(Exists(game_ + "/a.txt"));
    EXPECT_TRUE(log_.empty());
}

TEST_F(OperationsTest, OneHeadingForSeveralRemovalsAndNothingForNoList) {
    EXPECT_FALSE(CleanupLauncherData(launcher_, Log()));
    EXPECT_TRUE(log_.empty());

    WriteTestFile(launcher_ + "/a.dll", "x");
    WriteTestFile(launcher_ + "/b.dll", "x");
    WriteList("launcher remove a.dll\nlauncher remove b.dll\nlauncher remove gone.dll\n");
    EXPECT_TRUE(CleanupLauncherData(launcher_, Log()));
    EXPECT_EQ(log_, (std::vector<std::string>{"Launcherdaten werden aufgeräumt ..",
                                              "Entferne 'a.dll' ..", "Entferne 'b.dll' .."}));
}

TEST_F(OperationsTest, WildcardKeepsToTheSuffixByteForByte) {
    WriteTestFile(launcher_ + "/plugins/a.dll", "x");
    WriteTestFile(launcher_ + "/plugins/b.DLL", "x");
    WriteTestFile(launcher_ + "/plugins/c.dll.bak", "x");
    WriteList("launcher remove plugins\\*.dll\n");
    EXPECT_TRUE(CleanupLauncherData(launcher_, Log()));
    EXPECT_FALSE(Exists(launcher_ + "/plugins/a.dll"));
    EXPECT_TRUE(Exists(launcher_ + "/plugins/b.DLL"));
    EXPECT_TRUE(Exists(launcher_ + "/plugins/c.dll.bak"));
    EXPECT_EQ(log_.back(), "Entferne 'plugins\\a.dll' ..");
}

TEST_F(OperationsTest, ExpandWildcardMatchesStarAndQuestionMark) {
    for (const char* name : {"x.htm", "x.html", "y.htm", "xy.htm", "z.tmp", "Z.TMP"}) {
        WriteTestFile(game_ + "/" + name, "x");
    }
    auto names = [](const std::vector<std::string>& paths) {
        std::set<std::string> result;
        for (const std::string& path : paths)
            result.insert(fs::path(path).filename().string());
        return result;
    };
    EXPECT_EQ(names(ExpandWildcard(game_ + "/*.htm")),
              (std::set<std::string>{"x.htm", "y.htm", "xy.htm"}));
    EXPECT_EQ(names(ExpandWildcard(game_ + "/?.htm")), (std::set<std::string>{"x.htm", "y.htm"}));
    EXPECT_EQ(names(ExpandWildcard(game_ + "/*.tmp")), (std::set<std::string>{"z.tmp"}));
    EXPECT_EQ(names(ExpandWildcard(game_ + "/x*")),
              (std::set<std::string>{"x.htm", "x.html", "xy.htm"}));
    EXPECT_TRUE(ExpandWildcard(game_ + "/missing/*.htm").empty());
    EXPECT_EQ(names(ExpandWildcard(game_ + "/x.htm*")), (std::set<std::string>{"x.htm", "x.html"}));
    // Each match names the file itself, whatever separator the platform joins it with.
    for (const std::string& match : ExpandWildcard(game_ + "/x*")) {
        EXPECT_TRUE(fs::equivalent(match, game_ + "/" + fs::path(match).filename().string()))
            << match;
    }
}

TEST_F(OperationsTest, AFolderOrAPatternMatchingAFolderGoesWithItsTree) {
    WriteTestFile(game_ + "/old/deep/er/file.txt", "x");
    WriteTestFile(game_ + "/cache1/f", "x");
    WriteTestFile(game_ + "/cache2/g", "x");
    WriteList("client remove old\nclient remove cache*\n");
    EXPECT_TRUE(CleanupGameData(launcher_, game_, Log()));
    EXPECT_FALSE(Exists(game_ + "/old"));
    EXPECT_FALSE(Exists(game_ + "/cache1"));
    EXPECT_FALSE(Exists(game_ + "/cache2"));
    EXPECT_TRUE(Exists(game_));
}

TEST_F(OperationsTest, LinesThatCouldReachOutsideTheTargetAreRefusedAndShown) {
    WriteTestFile(temp_ / "outside.txt", "keep");
    WriteTestFile(game_ + "/inside.txt", "keep");
    WriteList(
        "client remove ..\\outside.txt\n"
        "client remove data/../../outside.txt\n"
        "client remove /etc/hostname\n"
        "client remove \\outside.txt\n"
        "client remove C:\\Windows\n"
        "client remove .\n"
        "client remove data\\..\n"
        "client remove    \n"
        "client remove *\\..\\..\\outside.txt\n");
    EXPECT_FALSE(CleanupGameData(launcher_, game_, Log()));
    EXPECT_TRUE(Exists(temp_ / "outside.txt"));
    EXPECT_TRUE(Exists(game_ + "/inside.txt"));
    ASSERT_EQ(log_.size(), 9U);
    EXPECT_EQ(log_[0], "Unzulässiger Pfad '..\\outside.txt' wird übersprungen ..");
    EXPECT_EQ(log_[7], "Unzulässiger Pfad '' wird übersprungen ..");
}

// The system reads a path only up to a NUL byte: a damaged line whose path starts with one, or
// whose folder part ends at one, names the target folder itself or a folder above the entry.
TEST_F(OperationsTest, APathWithANulByteIsRefusedNotCutShort) {
    WriteTestFile(game_ + "/inside.txt", "keep");
    WriteTestFile(game_ + "/data/keep.mul", "keep");
    WriteTestFile(launcher_ + "/profiles.xml", "keep");
    using std::string_literals::operator""s;
    WriteList("client remove \0junk\n"s + "client remove data/\0/x\n"s +
              "client remove data\0.old\n"s + "launcher remove \0\n"s);
    EXPECT_FALSE(CleanupGameData(launcher_, game_, Log()));
    EXPECT_FALSE(CleanupLauncherData(launcher_, Log()));
    EXPECT_TRUE(Exists(game_ + "/inside.txt"));
    EXPECT_TRUE(Exists(game_ + "/data/keep.mul"));
    EXPECT_TRUE(Exists(launcher_ + "/profiles.xml"));
    ASSERT_EQ(log_.size(), 4U);
    for (const std::string& line : log_) {
        EXPECT_EQ(line.rfind("Unzulässiger Pfad '", 0), 0U) << line;
    }
}

TEST_F(OperationsTest, APathInsideThatUsesDotsIsStillRun) {
    WriteTestFile(game_ + "/a/b.txt", "x");
    WriteList("client remove x\\..\\a\\.\\b.txt\n");
    EXPECT_TRUE(CleanupGameData(launcher_, game_, Log()));
    EXPECT_FALSE(Exists(game_ + "/a/b.txt"));
}

TEST_F(OperationsTest, LinksAreRemovedNeverFollowed) {
    WriteTestFile(temp_ / "outside/precious.txt", "keep");
    fs::create_directories(game_ + "/tree");
    fs::create_directory_symlink(temp_ / "outside", game_ + "/tree/link-to-folder");
    fs::create_symlink(temp_ / "outside/precious.txt", game_ + "/tree/link-to-file");
    fs::create_directory_symlink(temp_ / "outside", game_ + "/top-link");
    fs::create_directory_symlink(temp_ / "outside", game_ + "/via");
    WriteList("client remove tree\nclient remove top-link\nclient remove via\\precious.txt\n");
    EXPECT_TRUE(CleanupGameData(launcher_, game_, Log()));
    EXPECT_FALSE(Exists(game_ + "/tree"));
    EXPECT_FALSE(Exists(game_ + "/top-link"));
    EXPECT_TRUE(Exists(temp_ / "outside/precious.txt"));
    EXPECT_EQ(log_.back(), "Unzulässiger Pfad 'via\\precious.txt' wird übersprungen ..");
}

TEST_F(OperationsTest, ALongLineIsOneLineNotSeveral) {
    const std::string longName(300, 'n');
    WriteTestFile(game_ + "/" + longName.substr(0, 200),
                  "a shorter name that a cut line would hit");
    WriteList("client remove " + longName + "\n");
    CleanupGameData(launcher_, game_, Log());
    EXPECT_TRUE(Exists(game_ + "/" + longName.substr(0, 200)));
}

class FailingRemover : public EntryRemover {
public:
    bool RemoveFile(const std::string& /*path*/) const override { return false; }
    bool RemoveTree(const std::string& /*path*/) const override { return false; }
};

TEST_F(OperationsTest, TheFirstFailureEndsTheListWithItsCodeAndName) {
    WriteTestFile(game_ + "/first.txt", "x");
    WriteTestFile(game_ + "/folder/x", "x");
    const FailingRemover failing;
    WriteList("client remove first.txt\nclient remove folder\n");
    try {
        CleanupGameData(launcher_, game_, Log(), failing);
        FAIL() << "no exception";
    } catch (const OperationsProcessorException& error) {
        EXPECT_EQ(error.code, 0);
        EXPECT_EQ(error.detail, "first.txt");
        EXPECT_STREQ(error.what(), "Can't remove file.");
    }
    EXPECT_EQ(log_.back(), "Entferne 'first.txt' ..");

    WriteList("client remove folder\nclient remove first.txt\n");
    try {
        CleanupGameData(launcher_, game_, Log(), failing);
        FAIL() << "no exception";
    } catch (const OperationsProcessorException& error) {
        EXPECT_EQ(error.code, 1);
        EXPECT_EQ(error.detail, "folder");
    }
}

TEST_F(OperationsTest, ExecuteOperationTellsOperationsFromOtherLines) {
    int before = 0;
    const BeforeRemoval count = [&before] { ++before; };
    EXPECT_FALSE(ExecuteOperation(game_, " delete x", count, Log()));
    EXPECT_FALSE(ExecuteOperation(game_, " removed x", count, Log()));
    EXPECT_TRUE(ExecuteOperation(game_, " remove nothing-here", count, Log()));
    EXPECT_EQ(before, 0);
}

}  // namespace
}  // namespace veldmoor
