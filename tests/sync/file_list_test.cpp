#include "sync/file_list.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

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

TEST(FileList, AnEntryStartWithoutItsEndOnAVeryLongLineIsSkipped) {
    // Only a line end or the document's end tells that the entry never closes; the search for
    // it must not grow with the line (a regular expression engine that recurses per character
    // runs out of stack here).
    const std::string body = "{ path: \"" + std::string(4u << 20, 'x') + "\n" + "{ path: \"" +
                             std::string(1u << 20, 'y') + "\", time: \"5\" }";
    const auto files = parseFileList(body, "/i");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].repoPath.size(), 1u << 20);
    EXPECT_EQ(files[0].time, 5);
}

// The entry form as one regular expression: the parser must find exactly what it finds.
std::vector<std::pair<std::string, std::string>> entriesByPattern(const std::string& body) {
    static const std::regex pattern(R"(\{ path: \"(.+?)\", time: \"(\d+?)\" \})",
                                    std::regex::ECMAScript);
    std::vector<std::pair<std::string, std::string>> entries;
    for (std::sregex_iterator it(body.begin(), body.end(), pattern), end; it != end; ++it) {
        entries.emplace_back((*it)[1].str(), (*it)[2].str());
    }
    return entries;
}

TEST(FileList, FindsWhatTheEntryPatternFindsInAnyShortDocument) {
    // Fragments of entries, glued at random, give every near miss: quotes and braces inside
    // paths, line ends, tails without digits, entries that start inside others.
    const std::vector<std::string> fragments = {"{ path: \"", "\", time: \"",
                                                "\" }",       "1",
                                                "42",         "a",
                                                "b/c",        "\"",
                                                "{",          "}",
                                                " ",          "\n",
                                                "\r",         "\", time: \"\" }",
                                                "ä",          std::string(1, '\0')};
    std::mt19937 generator(7);
    for (int round = 0; round < 20000; ++round) {
        std::string body;
        const int parts = 1 + static_cast<int>(generator() % 24);
        for (int i = 0; i < parts; ++i) {
            body += fragments[generator() % fragments.size()];
        }
        std::vector<std::pair<std::string, std::string>> found;
        for (const RemoteFile& file : parseFileList(body, "/i")) {
            found.emplace_back(file.repoPath, std::to_string(file.time));
        }
        auto expected = entriesByPattern(body);
        for (auto& entry : expected) {
            entry.second = std::to_string(std::stoll(entry.second));
        }
        ASSERT_EQ(found, expected) << testing::PrintToString(body);
    }
}

TEST(FileList, SafeRepoPathsStayInsideTheInstallation) {
    for (const char* path : {"a", "a/b.txt", "a..b/c", "dir/.hidden", "x\\y"}) {
        EXPECT_TRUE(isSafeRepoPath(path)) << path;
    }
    for (const char* path : {"", "..", "../x", "a/../b", "a\\..\\b", "a/..", "/etc/passwd",
                             "\\windows\\x", "C:x", "c:\\x", "a/..\\b", "dir/", "a\\b\\"}) {
        EXPECT_FALSE(isSafeRepoPath(path)) << path;
    }
    EXPECT_FALSE(isSafeRepoPath(std::string_view("x/..\0abc", 9)));
}

}  // namespace
}  // namespace veldmoor
