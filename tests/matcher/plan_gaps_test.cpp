#include <gtest/gtest.h>

#include <random>

#include "sync/chunk_index.h"

namespace veldmoor {
namespace {

Piece local(std::uint32_t target, std::uint32_t length, std::uint32_t source = 0) {
    Piece piece;
    piece.targetOffset = target;
    piece.length = length;
    piece.sourceOffset = source;
    piece.kind = kPieceLocal;
    return piece;
}

Piece download(std::uint32_t target, std::uint32_t length) {
    Piece piece;
    piece.targetOffset = target;
    piece.length = length;
    piece.kind = kPieceDownload;
    return piece;
}

void expectCovers(const BlockPlan& plan, std::uint32_t size) {
    std::uint64_t covered = 0;
    for (const Piece& piece : plan.pieces) {
        ASSERT_EQ(piece.targetOffset, covered);
        ASSERT_GT(piece.length, 0u);
        covered += piece.length;
    }
    ASSERT_EQ(covered, size);
}

TEST(PlanGaps, FillsTheHolesBetweenLocalPieces) {
    BlockPlan plan;
    plan.pieces = {local(0, 4096), local(8192, 4096, 100)};
    planGaps(plan, 16384);
    const std::vector<Piece> expected = {local(0, 4096), download(4096, 4096),
                                         local(8192, 4096, 100), download(12288, 4096)};
    EXPECT_EQ(plan.pieces, expected);
}

TEST(PlanGaps, WithoutLocalPiecesDownloadsTheWholeFile) {
    BlockPlan plan;
    planGaps(plan, 777);
    EXPECT_EQ(plan.pieces, std::vector<Piece>{download(0, 777)});

    BlockPlan empty;
    planGaps(empty, 0);
    EXPECT_TRUE(empty.pieces.empty());
}

TEST(PlanGaps, FullyLocalPlanGetsNoDownload) {
    BlockPlan plan;
    plan.pieces = {local(0, 4, 8), local(4, 4, 0), local(8, 2, 12)};
    const std::vector<Piece> before = plan.pieces;
    planGaps(plan, 10);
    EXPECT_EQ(plan.pieces, before);
}

TEST(PlanGaps, SortsLocalPiecesByTargetOffset) {
    BlockPlan plan;
    plan.pieces = {local(8, 4, 0), local(0, 4, 4)};
    planGaps(plan, 12);
    const std::vector<Piece> expected = {local(0, 4, 4), download(4, 4), local(8, 4, 0)};
    EXPECT_EQ(plan.pieces, expected);
}

// A faulty index can make claimed pieces overlap or run past the target's end; the plan must
// still describe exactly the target's bytes instead of a download of negative length.
TEST(PlanGaps, DropsOverlappingAndOversizedPiecesFromAFaultyIndex) {
    BlockPlan plan;
    plan.pieces = {local(0, 8), local(4, 8), local(20, 8)};
    planGaps(plan, 24);
    const std::vector<Piece> expected = {local(0, 8), download(8, 16)};
    EXPECT_EQ(plan.pieces, expected);

    BlockPlan wrapping;
    wrapping.pieces = {local(0xFFFFFFF0u, 0x20)};
    planGaps(wrapping, 100);
    EXPECT_EQ(wrapping.pieces, std::vector<Piece>{download(0, 100)});
}

TEST(PlanGaps, AlwaysCoversTheTargetExactly) {
    std::mt19937 random(99);
    for (int round = 0; round < 2000; ++round) {
        const std::uint32_t size = random() % 500;
        BlockPlan plan;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            plan.pieces.push_back(local(random() % 520, 1 + random() % 60, random()));
        }
        planGaps(plan, size);
        expectCovers(plan, size);
    }
}

}  // namespace
}  // namespace veldmoor
