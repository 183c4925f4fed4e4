#include "tools/serve/byte_ranges.h"

#include <gtest/gtest.h>

#include <string>

namespace veldmoor {
namespace {

std::vector<std::pair<std::uint64_t, std::uint64_t>> Pairs(const ParsedRanges& parsed) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pairs;
    for (const auto& r : parsed.ranges) {
        pairs.emplace_back(r.first, r.last);
    }
    return pairs;
}

TEST(ParseRangeHeader, KeepsTheOrderAskedForWithoutMerging) {
    const auto parsed = ParseRangeHeader("bytes=4096-8191,0-1023,1024-2047", 10000);
    ASSERT_EQ(parsed.result, RangeParse::Ok);
    EXPECT_EQ(Pairs(parsed), (std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                                 {4096, 8191}, {0, 1023}, {1024, 2047}}));
}

TEST(ParseRangeHeader, SuffixOpenAndOverlongRanges) {
    EXPECT_EQ(Pairs(ParseRangeHeader("bytes=-100", 1000)),
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{900, 999}}));
    EXPECT_EQ(Pairs(ParseRangeHeader("bytes=-5000", 1000)),
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, 999}}));
    EXPECT_EQ(Pairs(ParseRangeHeader("bytes=990-", 1000)),
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{990, 999}}));
    EXPECT_EQ(Pairs(ParseRangeHeader("bytes=500-99999", 1000)),
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{500, 999}}));
    EXPECT_EQ(Pairs(ParseRangeHeader("bytes= 1-2 , 3-4", 10)),
              (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{1, 2}, {3, 4}}));
}

TEST(ParseRangeHeader, RangesBeyondTheEndAreUnsatisfiable) {
    EXPECT_EQ(ParseRangeHeader("bytes=1000-1001", 1000).result, RangeParse::Unsatisfiable);
    EXPECT_EQ(ParseRangeHeader("bytes=0-0", 0).result, RangeParse::Unsatisfiable);
    // One range inside is enough; those outside are dropped.
    const auto mixed = ParseRangeHeader("bytes=2000-3000,0-9", 1000);
    EXPECT_EQ(mixed.result, RangeParse::Ok);
    EXPECT_EQ(mixed.ranges.size(), 1u);
}

TEST(ParseRangeHeader, MalformedHeadersMeanTheWholeFile) {
    for (const char* header :
         {"", "bytes", "items=0-1", "bytes=", "bytes=a-b", "bytes=5-1", "bytes=1-2,", "bytes=1-2-3",
          "bytes=--1", "bytes=18446744073709551616-"}) {
        EXPECT_EQ(ParseRangeHeader(header, 1000).result, RangeParse::Malformed) << header;
    }
    EXPECT_EQ(ParseRangeHeader("bytes=0-0,1-1,2-2", 1000, 2).result, RangeParse::Malformed);
}

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

Ranges Parts(const std::string& header, std::uint64_t size) {
    const auto parts = AnswerParts(ParseRangeHeader(header, size).ranges, size);
    Ranges pairs;
    for (const auto& r : parts.value_or(std::vector<ByteRange>{})) {
        pairs.emplace_back(r.first, r.last);
    }
    return pairs;
}

TEST(AnswerParts, JoinsOnlyRangesThatOverlapOrTouchTheOneBefore) {
    // The launcher's kind: disjoint, ascending, with gaps: untouched.
    EXPECT_EQ(Parts("bytes=0-9,20-29,40-49", 100), (Ranges{{0, 9}, {20, 29}, {40, 49}}));
    EXPECT_EQ(Parts("bytes=0-9,10-19,15-30", 100), (Ranges{{0, 30}}));
    EXPECT_EQ(Parts("bytes=50-59,40-49,0-0", 100), (Ranges{{40, 59}, {0, 0}}));
    EXPECT_EQ(Parts("bytes=0-,0-,0-", 100), (Ranges{{0, 99}}));
    EXPECT_EQ(Parts("bytes=-10,0-89", 100), (Ranges{{0, 99}}));
}

TEST(AnswerParts, PartsLargerTogetherThanTheFileMeanTheWholeFile) {
    EXPECT_FALSE(AnswerParts(ParseRangeHeader("bytes=0-59,80-89,0-59", 100).ranges, 100));
    EXPECT_TRUE(AnswerParts(ParseRangeHeader("bytes=0-49,80-89,0-39", 100).ranges, 100));
    std::string tooMany = "bytes=0-0";
    for (std::size_t i = 1; i <= kMaxRanges; ++i) {
        tooMany += "," + std::to_string(2 * i) + "-" + std::to_string(2 * i);
    }
    EXPECT_EQ(ParseRangeHeader(tooMany, 1000).result, RangeParse::Malformed);
}

}  // namespace
}  // namespace veldmoor
