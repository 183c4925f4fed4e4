#include "tools/publish/name_rules.h"

#include <gtest/gtest.h>

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
    EXPECT_NE(WhyPathIsRefused("a/../b").value_or("").find("\"..\""), std::string::npos);
    EXPECT_NE(WhyPathIsRefused("..").value_or("").find("\"..\""), std::string::npos);
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
    EXPECT_TRUE(CollidingPaths({"lonely.tmp", "other.chunks"}).empty());
}

}  // namespace
}  // namespace veldmoor
