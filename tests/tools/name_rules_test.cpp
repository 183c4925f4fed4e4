#include "tools/publish/name_rules.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sync/chunk_index.h"
#include "tests/support/result_assertions.h"
#include "tests/support/temp_dir.h"
#include "tools/publish/repository_publisher.h"

namespace veldmoor {
namespace {

TEST(WhyPathIsRefused, AcceptsOrdinaryNamesIncludingBlanksAndUmlauts) {
    for (const char* path :
         {"client.exe", "data/art.mul", "Mit Leerzeichen/Grüße.txt", "a.b/c-d_e+f (1).txt",
          "%41.txt", "{ weird }.txt", "a..b", "..hidden/x", "v1..2/x..y.pak"}) {
        EXPECT_FALSE(WhyPathIsRefused(path).has_value()) << path;
    }
}

TEST(WhyPathIsRefused, RefusesWhatTheListOrAnInstallationCannotCarry) {
    for (const char* path :
         {"",      "/rooted", "a/../b",      "..",       "../x", "x/..", "quo\"te", "line\nbreak",
          "cr\rx", "tab\tx",  "back\\slash", "c:x",      "a<b",  "a|b",  "a?b",     "a*b",
          "a//b",  "dot./x",  "blank /x",    "trailing."}) {
        EXPECT_TRUE(WhyPathIsRefused(path).has_value()) << path;
    }
}

TEST(WhyPathIsRefused, SaysWhyForEachKindOfDotName) {
    EXPECT_NE(WhyPathIsRefused("a/../b").value_or("").find("'..'"), std::string::npos);
    EXPECT_NE(WhyPathIsRefused("..").value_or("").find("'..'"), std::string::npos);
    // "..." is no parent folder; Windows would drop its trailing dots.
    EXPECT_NE(WhyPathIsRefused("...").value_or("").find("ends in a dot"), std::string::npos);
    EXPECT_NE(WhyPathIsRefused("data/...").value_or("").find("ends in a dot"), std::string::npos);
}

TEST(WhyTimeIsRefused, OnlyTimesASigned32BitNumberCarries) {
    EXPECT_FALSE(WhyTimeIsRefused(0).has_value());
    EXPECT_FALSE(WhyTimeIsRefused(2147483647LL).has_value());
    EXPECT_TRUE(WhyTimeIsRefused(2147483648LL).has_value());
    EXPECT_TRUE(WhyTimeIsRefused(-1).has_value());
}

TEST(CollidingPaths, CaseOnlyTwinsAndRebuildOrIndexNames) {
    EXPECT_TRUE(CollidingPaths({"a.txt", "b.txt", "c/d.txt"}).empty());
    EXPECT_EQ(CollidingPaths({"Data/A.txt", "data/a.txt"}).size(), 1u);
    EXPECT_EQ(CollidingPaths({"x", "x.tmp"}).size(), 1u);
    EXPECT_EQ(CollidingPaths({"x", "x.chunks"}).size(), 1u);
    EXPECT_EQ(CollidingPaths({"x", "x.chunks.gz"}).size(), 1u);
    EXPECT_TRUE(CollidingPaths({"lonely.tmp", "other.chunks", "o.chunks.gz", "z.resume"}).empty());
}

// A source folder the launcher could not take once published: the publisher must refuse it
// before the repository exists, saying why.
struct RefusedSource {
    const char* name;
    std::vector<std::pair<std::string, std::uint64_t>> files;  // path, size (sparse)
    std::string reason;                                        // part of the refusal
    std::optional<std::uint32_t> blockSize;
    std::size_t maxListBytes = kMaxFileListBytes;
};

class PublisherRefuses : public ::testing::TestWithParam<RefusedSource> {};

TEST_P(PublisherRefuses, WhatTheLauncherWouldRefuse) {
    const RefusedSource& source = GetParam();
    const test::TempDir temp;
    for (const auto& [path, size] : source.files) {
        test::WriteTestFile(temp / ("source/" + path), "");
        std::filesystem::resize_file(temp / ("source/" + path), size);
    }
    PublishOptions options{.sourceDir = temp / "source", .repoDir = temp / "repo"};
    options.forcedBlockSize = source.blockSize;
    options.maxFileListBytes = source.maxListBytes;
    const Result<PublishSummary> refused = PublishRepository(options);
    ASSERT_FALSE(refused.Ok()) << "published";
    EXPECT_TRUE(refused.Message().starts_with("these files cannot be published:"))
        << refused.Message();
    EXPECT_NE(refused.Message().find(source.reason), std::string::npos) << refused.Message();
    EXPECT_FALSE(std::filesystem::exists(temp / "repo"));
}

std::string DeepPath(std::size_t folders) {
    std::string path;
    for (std::size_t i = 0; i < folders; ++i) {
        path += "d/";
    }
    return path + "f";
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PublisherRefuses,
    ::testing::Values(
        RefusedSource{
            "ResumeDataOfAnother", {{"b.bin", 1}, {"b.bin.resume", 1}}, "broken transfer"},
        RefusedSource{"RebuildFileInAnotherCase", {{"b.bin", 1}, {"B.BIN.TMP", 1}}, "rebuilt"},
        RefusedSource{
            "ResumeDataInAnotherCase", {{"d/B.bin", 1}, {"d/b.BIN.Resume", 1}}, "broken transfer"},
        RefusedSource{"CaseTwins", {{"Data/x", 1}, {"data/X", 1}}, "differ only in case"},
        RefusedSource{"IndexName", {{"x", 1}, {"x.chunks", 1}}, "chunk index"},
        RefusedSource{"Drive", {{"c:x", 1}}, "drive"},
        RefusedSource{"TooDeep", {{DeepPath(kMaxPublishedFolderLevels + 1), 1}}, "folders deep"},
        RefusedSource{"IndexTooLong",
                      {{"big.bin", std::uint64_t{kMaxChunkRecords} * 16 + 1}},
                      "more than the launcher reads",
                      16},
        RefusedSource{"ListTooLarge",
                      {{"a", 1}, {"b", 1}, {"c", 1}},
                      "more than the launcher reads (100)",
                      std::nullopt,
                      100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PublisherRefuses, NotTheDeepestPathOrLargestListItAllows) {
    const test::TempDir temp;
    test::WriteTestFile(temp / ("source/" + DeepPath(kMaxPublishedFolderLevels)), "x");
    test::WriteTestFile(temp / "source/b.bin", "x");
    test::WriteTestFile(temp / "source/b.bin.tmp-abcdefgh", "x");  // its own temporary names
    PublishOptions options{.sourceDir = temp / "source", .repoDir = temp / "repo"};
    // Times of today's ten digits, as the files carry.
    options.maxFileListBytes = FormatFileList({{DeepPath(kMaxPublishedFolderLevels), 1000000000},
                                               {"b.bin", 1000000000},
                                               {"b.bin.tmp-abcdefgh", 1000000000}})
                                   .size();
    EXPECT_TRUE(test::Done(PublishRepository(options)));
    EXPECT_EQ(ReadFileList(temp / "repo/filelist.php").size(), 3u);
}

}  // namespace
}  // namespace veldmoor
