#include "sync/file_list.h"

#include <gtest/gtest.h>

#include "sync/patch_exception.h"
#include "system/path.h"

namespace veldmoor {
namespace {

const std::string kSep(1, kPathSeparator);

TEST(FileList, ReadsEntriesInDocumentOrder) {
    const auto files = parseFileList(
        "[{ path: \"a/b.txt\", time: \"1500000000\" },\n{ path: \"c.dat\", time: \"0\" }]",
        "/games/uo");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].repoPath, "a/b.txt");
    EXPECT_EQ(files[0].localPath, "/games/uo" + kSep + "a" + kSep + "b.txt");
    EXPECT_EQ(files[0].time, 1500000000);
    EXPECT_EQ(files[1].repoPath, "c.dat");
    EXPECT_EQ(files[1].time, 0);
}

TEST(FileList, IgnoresEntriesOfAnotherForm) {
    EXPECT_TRUE(parseFileList("{path: \"a\", time: \"1\" }", "/i").empty());
    EXPECT_TRUE(parseFileList("{ path:\"a\", time: \"1\" }", "/i").empty());
    EXPECT_TRUE(parseFileList("{ path: \"a\", time: \"-1\" }", "/i").empty());
    EXPECT_TRUE(parseFileList("<html><body>404 Not Found</body></html>", "/i").empty());
    EXPECT_TRUE(parseFileList("", "/i").empty());
}

TEST(FileList, CutsAPathAtTheQuoteBeforeTheTime) {
    const auto files = parseFileList("{ path: \"a\"b\", time: \"7\" }", "/i");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].repoPath, "a\"b");
}

TEST(FileList, ReadsTimesAsDecimalUpToTheSigned32BitLimit) {
    const auto files = parseFileList(
        "{ path: \"a\", time: \"000000000000000123\" }{ path: \"b\", time: \"2147483647\" }", "/i");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].time, 123);
    EXPECT_EQ(files[1].time, 2147483647);
}

TEST(FileList, ReportsATimeThatDoesNotFitAsServerDataNamingTheEntry) {
    for (const char* time : {"2147483648", "99999999999999999999999"}) {
        try {
            parseFileList(std::string("{ path: \"ok\", time: \"1\" }{ path: \"data/big.mul\", "
                                      "time: \"") +
                              time + "\" }",
                          "/i");
            FAIL() << "no exception for " << time;
        } catch (const PatchException& e) {
            EXPECT_EQ(e.category, 2);
            EXPECT_EQ(e.detail, "data/big.mul");
            EXPECT_NE(std::string(e.what()).find(time), std::string::npos);
        }
    }
}

TEST(FileList, KeepsTheFolderAsGivenAndSeparatesAtBackslashes) {
    const auto files = parseFileList("{ path: \"x\\\\y/z\", time: \"1\" }", "/i/");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].repoPath, "x\\\\y/z");
    EXPECT_EQ(files[0].localPath, "/i/" + kSep + "x" + kSep + kSep + "y" + kSep + "z");
}

TEST(FileList, SafeRepoPathsStayInsideTheInstallation) {
    for (const char* path : {"a", "a/b.txt", "a..b/c", "dir/.hidden", "x\\y"}) {
        EXPECT_TRUE(isSafeRepoPath(path)) << path;
    }
    for (const char* path : {"", "..", "../x", "a/../b", "a\\..\\b", "a/..", "/etc/passwd",
                             "\\windows\\x", "C:x", "c:\\x", "a/..\\b"}) {
        EXPECT_FALSE(isSafeRepoPath(path)) << path;
    }
    EXPECT_FALSE(isSafeRepoPath(std::string_view("x/..\0abc", 9)));
}

}  // namespace
}  // namespace veldmoor
