#include "sync/candidate_table.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace veldmoor {
namespace {

Piece entry(std::uint32_t weak, std::uint32_t strong) {
    Piece piece;
    piece.weak = weak;
    piece.strong = strong;
    piece.length = 8;
    return piece;
}

TEST(CandidateTable, FilterAndLookUpFindEveryWeakChecksumOfALargeIndex) {
    std::mt19937 random(3);
    std::vector<Piece> entries;
    for (int i = 0; i < 200000; ++i) {
        entries.push_back(entry(static_cast<std::uint32_t>(random()), 0));
    }
    entries.push_back(entry(0, 0));
    entries.push_back(entry(0xFFFFFFFFu, 0));
    CandidateTable table(entries);
    const WeakFilter filter = table.filter();
    std::set<std::uint32_t> present;
    for (const Piece& e : entries) {
        present.insert(e.weak);
        ASSERT_TRUE(filter.mayContain(e.weak)) << e.weak;
        const CandidateTable::WeakRun* run = table.find(e.weak);
        ASSERT_NE(run, nullptr) << e.weak;
        ASSERT_EQ(run->weak, e.weak);
    }
    int passed = 0;
    int absent = 0;
    for (int i = 0; i < 1000000; ++i) {
        const auto weak = static_cast<std::uint32_t>(random());
        if (present.count(weak) != 0) {
            continue;
        }
        ++absent;
        ASSERT_EQ(table.find(weak), nullptr) << weak;
        passed += filter.mayContain(weak) ? 1 : 0;
    }
    // The filter's whole point: nearly every absent checksum is rejected before the look-up.
    EXPECT_LT(passed, absent / 500);
    EXPECT_EQ(table.bucketCount(), 262144u);
}

TEST(CandidateTable, OneClaimTakesEveryEntryWithTheSameStrongChecksumInEntryOrder) {
    const std::vector<Piece> entries = {entry(7, 1), entry(9, 1), entry(7, 2), entry(7, 1),
                                        entry(7, 1)};
    CandidateTable table(entries);
    CandidateTable::WeakRun* run = table.find(7);
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->unclaimedGroups, 2u);

    EXPECT_TRUE(table.claim(*run, 3).empty());
    const auto first = table.claim(*run, 1);
    EXPECT_EQ(std::vector<std::uint32_t>(first.begin(), first.end()),
              (std::vector<std::uint32_t>{0, 3, 4}));
    EXPECT_TRUE(table.claim(*run, 1).empty());  // claimed once only
    EXPECT_EQ(run->unclaimedGroups, 1u);
    EXPECT_FALSE(table.allClaimed());

    const auto second = table.claim(*run, 2);
    EXPECT_EQ(std::vector<std::uint32_t>(second.begin(), second.end()),
              (std::vector<std::uint32_t>{2}));
    EXPECT_EQ(run->unclaimedGroups, 0u);

    CandidateTable::WeakRun* other = table.find(9);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(table.claim(*other, 1).size(), 1u);
    EXPECT_TRUE(table.allClaimed());
    EXPECT_EQ(table.find(8), nullptr);
    EXPECT_EQ(table.bucketCount(), 16384u);
}

}  // namespace
}  // namespace veldmoor
