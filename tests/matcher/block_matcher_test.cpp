#include "sync/block_matcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "chunk_fixture.h"
#include "sync/trace.h"

namespace veldmoor {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::chunkEntries;
using testing::TempFolder;

struct MatchRun {
    BlockPlan plan;
    std::vector<std::string> diagnostics;  // lines written to standard output
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Plans `target` against a local file holding `local`, as prepareFile does.
MatchRun planFile(const Bytes& local, const Bytes& target, std::uint32_t blockSize) {
    TempFolder folder;
    const std::string path = folder.write("local.bin", local);
    ::testing::internal::CaptureStdout();
    MatchRun run;
    run.plan = buildBlockPlan(path, chunkEntries(target, blockSize), 0x1234);
    run.diagnostics = linesOf(::testing::internal::GetCapturedStdout());
    EXPECT_EQ(run.plan.expectedCrc, 0x1234u);
    return run;
}

Bytes repeat(const std::string& text, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), text.begin(), text.end());
    }
    return out;
}

Bytes concat(std::initializer_list<std::string> parts) {
    Bytes out;
    for (const std::string& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// (target offset, source offset) of each local piece.
std::vector<std::pair<std::uint32_t, std::uint32_t>> placements(const BlockPlan& plan) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (const Piece& piece : plan.pieces) {
        EXPECT_EQ(piece.kind, kPieceLocal);
        out.emplace_back(piece.targetOffset, piece.sourceOffset);
    }
    return out;
}

TEST(BlockMatcher, IdenticalCopyIsFoundInPlaceAndWritesOneDiagnosticLine) {
    const Bytes target = bytesOf("abcdefghijkl");
    const MatchRun run = planFile(target, target, 3);
    ASSERT_EQ(run.plan.pieces.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const Piece& piece = run.plan.pieces[i];
        EXPECT_EQ(piece.targetOffset, i * 3);
        EXPECT_EQ(piece.sourceOffset, i * 3);
        EXPECT_EQ(piece.length, 3u);
        EXPECT_EQ(piece.weak, weakChecksum(target.data() + i * 3, 3));
        EXPECT_EQ(piece.strong, testing::crcOf(target.data() + i * 3, 3));
    }
    EXPECT_THAT(run.diagnostics,
                ::testing::ElementsAre("Buckets: 16384, chunks: 4, initial: 024a0126"));

    BlockPlan plan = run.plan;
    planGaps(plan, static_cast<std::uint32_t>(target.size()));
    EXPECT_EQ(plan.pieces, run.plan.pieces);  // nothing to download
}

TEST(BlockMatcher, RepeatedTargetBlocksAllComeFromTheFirstLocalOccurrence) {
    const Bytes target = concat({"AAAA", "BBBB", "AAAA", "CCCC", "AAAA"});
    const Bytes local = concat({"xx", "BBBB", "AAAA", "AAAA", "CCCC"});
    const MatchRun run = planFile(local, target, 4);
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(placements(run.plan),
                ::testing::ElementsAre(P{0, 6}, P{4, 2}, P{8, 6}, P{12, 14}, P{16, 6}));
}

TEST(BlockMatcher, ReorderedBlocksAreFoundAtTheirNewOffsets) {
    const Bytes target = concat({"one1", "two2", "thr3", "fou4"});
    const Bytes local = concat({"fou4", "thr3", "two2", "one1"});
    const MatchRun run = planFile(local, target, 4);
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(placements(run.plan), ::testing::ElementsAre(P{0, 12}, P{4, 8}, P{8, 4}, P{12, 0}));
}

TEST(BlockMatcher, ShortTailIsFoundByASecondPassAfterTheLastMatch) {
    const Bytes target = concat({"abcd", "efgh", "ij"});
    const Bytes local = concat({"efgh", "zz", "abcd", "ij", "q"});
    const MatchRun run = planFile(local, target, 4);
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(placements(run.plan), ::testing::ElementsAre(P{0, 6}, P{4, 0}, P{8, 10}));
    ASSERT_EQ(run.plan.pieces.back().length, 2u);
    ASSERT_EQ(run.diagnostics.size(), 2u);
    EXPECT_THAT(run.diagnostics[0], ::testing::StartsWith("Buckets: 16384, chunks: 2, "));
    EXPECT_THAT(run.diagnostics[1], ::testing::StartsWith("Buckets: 16384, chunks: 1, "));
}

TEST(BlockMatcher, TailBeforeTheLastMatchIsNotSearched) {
    // The second pass starts where the most recently found piece ends.
    const Bytes target = concat({"abcd", "ij"});
    const Bytes local = concat({"ij", "abcd"});
    const MatchRun run = planFile(local, target, 4);
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(placements(run.plan), ::testing::ElementsAre(P{0, 2}));
    EXPECT_EQ(run.diagnostics.size(), 1u);  // two bytes left: the tail pass reads too little
}

TEST(BlockMatcher, TailIsNotSearchedWhenNoFullBlockMatches) {
    const Bytes target = concat({"abcd", "efgh", "ij"});
    const Bytes local = concat({"ij", "xyzw", "ij"});
    const MatchRun run = planFile(local, target, 4);
    EXPECT_TRUE(run.plan.pieces.empty());
    EXPECT_EQ(run.diagnostics.size(), 1u);
}

TEST(BlockMatcher, LocalCopyShorterThanABlockFindsNothingAndReportsNothing) {
    const Bytes target = concat({"abcdef"});
    const MatchRun run = planFile(bytesOf("abcde"), target, 6);
    EXPECT_TRUE(run.plan.pieces.empty());
    EXPECT_TRUE(run.diagnostics.empty());
}

TEST(BlockMatcher, MissingLocalCopyFindsNothing) {
    TempFolder folder;
    ::testing::internal::CaptureStdout();
    const BlockPlan plan =
        buildBlockPlan(folder.pathOf("absent.bin"), chunkEntries(bytesOf("abcd"), 2), 7);
    EXPECT_TRUE(::testing::internal::GetCapturedStdout().empty());
    EXPECT_TRUE(plan.pieces.empty());
    EXPECT_EQ(plan.expectedCrc, 7u);
}

// A caller that routes the diagnostic lines elsewhere gets the matcher's line, and standard
// output nothing.
std::vector<std::string> routedLines;

TEST(BlockMatcher, TheDiagnosticLineGoesWhereTheHookRoutesIt) {
    routedLines.clear();
    const DiagnosticHook before =
        setDiagnosticHook([](std::string_view line) { routedLines.emplace_back(line); });
    const Bytes target = bytesOf("abcdefghijkl");
    const MatchRun run = planFile(target, target, 3);
    setDiagnosticHook(before);
    EXPECT_TRUE(run.diagnostics.empty());
    EXPECT_THAT(routedLines,
                ::testing::ElementsAre("Buckets: 16384, chunks: 4, initial: 024a0126\n"));
}

TEST(BlockMatcher, EmptyIndexFindsNothing) {
    const MatchRun run = planFile(bytesOf("abcd"), Bytes{}, 4);
    EXPECT_TRUE(run.plan.pieces.empty());
    EXPECT_TRUE(run.diagnostics.empty());
}

TEST(BlockMatcher, HundredIdenticalBlocksAreServedFromTheFirstLocalBlock) {
    const std::string block = "0123456789abcdef";
    const MatchRun run = planFile(repeat(block, 100), repeat(block, 100), 16);
    ASSERT_EQ(run.plan.pieces.size(), 100u);
    for (std::size_t i = 0; i < 100; ++i) {
        EXPECT_EQ(run.plan.pieces[i].targetOffset, i * 16);
        EXPECT_EQ(run.plan.pieces[i].sourceOffset, 0u);
    }
    EXPECT_THAT(
        run.diagnostics,
        ::testing::ElementsAre(::testing::StartsWith("Buckets: 16384, chunks: 100, initial: ")));
}

TEST(BlockMatcher, WindowsOfAlreadyClaimedChunksAreJumpedOver) {
    // After "aaaa" is claimed at 0, the window at 4 carries its weak checksum again and the
    // scan jumps to 8, so "aaab" (local offset 5) is never examined and stays a download.
    const Bytes target = concat({"aaaa", "aaab"});
    const Bytes local = concat({"aaaa", "aaaa", "bcde"});
    const MatchRun run = planFile(local, target, 4);
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(placements(run.plan), ::testing::ElementsAre(P{0, 0}));
}

TEST(BlockMatcher, EqualWeakChecksumsAreToldApartByTheirCrc) {
    // "bdb" and "cbc" share a weak checksum.
    ASSERT_EQ(weakChecksum(bytesOf("bdb").data(), 3), weakChecksum(bytesOf("cbc").data(), 3));
    const Bytes target = concat({"bdb", "cbc", "bdb"});
    const MatchRun run = planFile(concat({"cbc", "bdb"}), target, 3);
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(placements(run.plan), ::testing::ElementsAre(P{0, 3}, P{3, 0}, P{6, 3}));

    // A window with the weak checksum but another CRC is passed over byte by byte.
    const MatchRun shifted = planFile(concat({"cbcbdb"}), concat({"bdb"}), 3);
    EXPECT_THAT(placements(shifted.plan), ::testing::ElementsAre(P{0, 3}));
}

TEST(BlockMatcher, BucketCountDoublesPastSixteenThousandDistinctChecksums) {
    std::mt19937 random(5);
    Bytes target(20000 * 8);
    for (unsigned char& byte : target) {
        byte = static_cast<unsigned char>(random());
    }
    const MatchRun run = planFile(bytesOf("12345678"), target, 8);
    ASSERT_EQ(run.diagnostics.size(), 1u);
    EXPECT_THAT(run.diagnostics[0], ::testing::StartsWith("Buckets: 32768, chunks: 20000, "));
}

TEST(BlockMatcher, ZeroBlockSizeFromAFaultyIndexFindsNothingAndEnds) {
    // An empty first chunk has weak and strong checksum 0, which an empty window matches
    // forever unless the matcher refuses a window of no bytes.
    Piece empty;
    empty.kind = kPieceLocal;
    ::testing::internal::CaptureStdout();
    std::istringstream local("some local bytes");
    const BlockPlan plan = buildBlockPlan(local, {empty, empty}, 0);
    ::testing::internal::GetCapturedStdout();
    EXPECT_TRUE(plan.pieces.empty());
}

TEST(BlockMatcher, HugeBlockSizeFromAFaultyIndexAllocatesNothingForAShortCopy) {
    // A window longer than the local copy cannot match; the matcher must not first try to
    // allocate two windows of nearly 4 GiB each.
    Piece huge;
    huge.length = 0xFFFFFFF0u;
    huge.kind = kPieceLocal;
    TempFolder folder;
    const std::string path = folder.write("local.bin", bytesOf("short local copy"));
    ::testing::internal::CaptureStdout();
    const BlockPlan plan = buildBlockPlan(path, {huge, huge}, 0);
    EXPECT_TRUE(::testing::internal::GetCapturedStdout().empty());
    EXPECT_TRUE(plan.pieces.empty());
}

// Source offsets are 32-bit: a local copy of 4 GiB or more is searched only where they reach,
// or a match beyond would copy the wrong bytes and the file could never be patched.
TEST(BlockMatcher, SearchStopsWhereSourceOffsetsEnd) {
    Bytes local(100, 'x');
    const std::string early = "early-07";
    const std::string straddling = "straddle";
    const std::string late = "late-ooo";
    std::copy(early.begin(), early.end(), local.begin() + 40);            // ends at 48
    std::copy(straddling.begin(), straddling.end(), local.begin() + 49);  // ends at 57
    std::copy(late.begin(), late.end(), local.begin() + 70);
    const Bytes target = concat({late, straddling, early});
    std::istringstream stream(testing::asString(local));
    MatcherOptions options;
    options.readBlock = 16;
    options.searchLimit = 50;
    ::testing::internal::CaptureStdout();
    const BlockPlan plan = buildBlockPlan(stream, chunkEntries(target, 8), 0, options);
    ::testing::internal::GetCapturedStdout();
    using P = std::pair<std::uint32_t, std::uint32_t>;
    EXPECT_THAT(placements(plan), ::testing::ElementsAre(P{16, 40}));
}

}  // namespace
}  // namespace veldmoor
