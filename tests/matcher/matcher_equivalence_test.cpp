// The matcher reads in large blocks, filters weak checksums through a bit table, claims
// groups of equal chunks at once and scans on the plain path or the AVX2 one; none of that may
// change the plan. These tests compare it with the plain reference implementation on many
// random local copies and targets, on every scan path.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

#include "chunk_fixture.h"
#include "reference_matcher.h"
#include "sync/block_matcher.h"

namespace veldmoor {
namespace {

using testing::Bytes;

struct Case {
    Bytes target;
    Bytes local;
    std::uint32_t blockSize = 1;
    std::string description;
};

class CaseMaker {
public:
    explicit CaseMaker(std::uint32_t seed) : random_(seed) {}

    Case make() {
        Case c;
        c.blockSize = pickBlockSize();
        // A small alphabet makes equal weak checksums with different CRCs common.
        alphabet_ = pick(4) == 0 ? 3 : 256;
        const std::size_t blocks = pick(40);
        const std::size_t tail = pick(3) == 0 ? 0 : pick(c.blockSize);
        c.target = composeTarget(blocks, c.blockSize, tail);
        c.local = deriveLocal(c.target, c.blockSize, c.description);
        return c;
    }

private:
    std::size_t pick(std::size_t bound) { return bound == 0 ? 0 : random_() % bound; }

    std::uint32_t pickBlockSize() {
        static const std::uint32_t kSizes[] = {1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 64, 100, 127, 256};
        return kSizes[pick(std::size(kSizes))];
    }

    Bytes randomBytes(std::size_t count) {
        Bytes out(count);
        for (unsigned char& byte : out) {
            byte = static_cast<unsigned char>(alphabet_ == 256 ? random_() : 'a' + pick(alphabet_));
        }
        return out;
    }

    // Blocks drawn from a small pool (so the target repeats blocks), fresh random blocks and
    // zero blocks, followed by a tail shorter than a block.
    Bytes composeTarget(std::size_t blocks, std::uint32_t blockSize, std::size_t tail) {
        std::vector<Bytes> pool;
        for (std::size_t i = 0, n = 1 + pick(4); i < n; ++i) {
            pool.push_back(randomBytes(blockSize));
        }
        Bytes target;
        for (std::size_t i = 0; i < blocks; ++i) {
            const std::size_t kind = pick(6);
            const Bytes block = kind < 2   ? pool[pick(pool.size())]
                                : kind < 3 ? Bytes(blockSize, 0)
                                           : randomBytes(blockSize);
            target.insert(target.end(), block.begin(), block.end());
        }
        const Bytes end = randomBytes(tail);
        target.insert(target.end(), end.begin(), end.end());
        return target;
    }

    Bytes deriveLocal(const Bytes& target, std::uint32_t blockSize, std::string& description) {
        Bytes local = target;
        switch (pick(9)) {
            case 0:
                description = "identical";
                break;
            case 1: {
                description = "blocks shuffled";
                std::vector<Bytes> blocks;
                for (std::size_t at = 0; at < local.size(); at += blockSize) {
                    blocks.emplace_back(
                        local.begin() + static_cast<std::ptrdiff_t>(at),
                        local.begin() + static_cast<std::ptrdiff_t>(
                                            std::min<std::size_t>(at + blockSize, local.size())));
                }
                std::shuffle(blocks.begin(), blocks.end(), random_);
                local.clear();
                for (const Bytes& block : blocks) {
                    local.insert(local.end(), block.begin(), block.end());
                }
                break;
            }
            case 2:
                description = "unrelated";
                local = randomBytes(pick(target.size() + 2 * blockSize + 1));
                break;
            case 3:
                description = "shorter than a block";
                local = randomBytes(pick(blockSize));
                break;
            case 4:
                description = "truncated";
                local.resize(pick(local.size() + 1));
                break;
            default: {
                description = "edited";
                for (std::size_t edits = 1 + pick(6); edits > 0; --edits) {
                    const std::size_t at = pick(local.size() + 1);
                    const Bytes bytes = randomBytes(1 + pick(2 * blockSize + 2));
                    switch (pick(3)) {
                        case 0:  // insertion shifts what follows
                            local.insert(local.begin() + static_cast<std::ptrdiff_t>(at),
                                         bytes.begin(), bytes.end());
                            break;
                        case 1:  // deletion
                            local.erase(local.begin() + static_cast<std::ptrdiff_t>(at),
                                        local.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                            local.size(), at + bytes.size())));
                            break;
                        default:  // overwrite
                            for (std::size_t k = 0; k < bytes.size() && at + k < local.size();
                                 ++k) {
                                local[at + k] = bytes[k];
                            }
                    }
                }
            }
        }
        return local;
    }

    std::mt19937 random_;
    std::size_t alphabet_ = 256;
};

struct Observed {
    BlockPlan plan;
    std::vector<std::string> lines;
};

Observed runMatcher(const Bytes& local, const std::vector<Piece>& entries, std::size_t readBlock,
                    ScanPath path) {
    std::istringstream stream(testing::asString(local));
    MatcherOptions options;
    options.readBlock = readBlock;
    options.scanPath = path;
    ::testing::internal::CaptureStdout();
    Observed observed;
    observed.plan = buildBlockPlan(stream, entries, 0, options);
    std::istringstream out(::testing::internal::GetCapturedStdout());
    for (std::string line; std::getline(out, line);) {
        observed.lines.push_back(line);
    }
    return observed;
}

std::vector<std::string> expectedLines(const reference::ReferencePlan& reference) {
    std::vector<std::string> lines;
    for (const reference::PassReport& pass : reference.passes) {
        char line[100];
        // Fewer than 16384 distinct weak checksums in every case here.
        std::snprintf(line, sizeof line, "Buckets: 16384, chunks: %i, initial: %08x",
                      static_cast<int>(pass.chunks), pass.initialWeak);
        lines.emplace_back(line);
    }
    return lines;
}

// Every local piece must hold the target's bytes, and the plan must cover the target.
void expectPlanRebuildsTarget(const Case& c, BlockPlan plan) {
    planGaps(plan, static_cast<std::uint32_t>(c.target.size()));
    std::uint64_t covered = 0;
    for (const Piece& piece : plan.pieces) {
        ASSERT_EQ(piece.targetOffset, covered);
        if (piece.kind == kPieceLocal) {
            ASSERT_LE(std::uint64_t{piece.sourceOffset} + piece.length, c.local.size());
            ASSERT_TRUE(std::equal(c.local.begin() + piece.sourceOffset,
                                   c.local.begin() + piece.sourceOffset + piece.length,
                                   c.target.begin() + piece.targetOffset));
        }
        covered += piece.length;
    }
    ASSERT_EQ(covered, c.target.size());
}

// Every scan path this processor runs; one the processor lacks is reported as skipped.
class MatcherEquivalence : public ::testing::TestWithParam<ScanPath> {
protected:
    void SetUp() override {
        if (!scanPathRuns(GetParam())) {
            GTEST_SKIP() << "this processor cannot run the scan path";
        }
    }
};

TEST_P(MatcherEquivalence, RandomCasesGiveTheReferencePlan) {
    CaseMaker maker(20261207);
    const std::size_t readBlocks[] = {1, 2, 3, 7, 64, 1000, std::size_t{1} << 20};
    for (int round = 0; round < 6000; ++round) {
        const Case c = maker.make();
        const std::vector<Piece> entries = testing::chunkEntries(c.target, c.blockSize);
        std::istringstream referenceStream(testing::asString(c.local));
        const reference::ReferencePlan expected =
            reference::buildBlockPlan(referenceStream, entries);
        const std::size_t readBlock = readBlocks[round % std::size(readBlocks)];
        const Observed observed = runMatcher(c.local, entries, readBlock, GetParam());

        SCOPED_TRACE(::testing::Message()
                     << "round " << round << ": " << c.description << ", block " << c.blockSize
                     << ", target " << c.target.size() << ", local " << c.local.size()
                     << ", read block " << readBlock);
        ASSERT_EQ(observed.plan.pieces, expected.pieces);
        ASSERT_EQ(observed.lines, expectedLines(expected));
        expectPlanRebuildsTarget(c, observed.plan);
    }
}

TEST_P(MatcherEquivalence, LargeFilesAcrossManyReadsGiveTheReferencePlan) {
    // Megabytes of data so that the default 1 MiB reads and the refills between them are
    // crossed many times, with block sizes that do not divide the read size.
    std::mt19937 random(77);
    testing::TempFolder folder;
    for (const std::uint32_t blockSize : {1031u, 4096u, 777u}) {
        Bytes target(3 * 1024 * 1024 + 12345);
        for (unsigned char& byte : target) {
            byte = static_cast<unsigned char>(random());
        }
        Bytes local = target;
        for (int edit = 0; edit < 40; ++edit) {
            const std::size_t at = random() % local.size();
            if (edit % 2 == 0) {
                local.insert(local.begin() + static_cast<std::ptrdiff_t>(at), 1 + random() % 50,
                             'x');
            } else {
                local.erase(local.begin() + static_cast<std::ptrdiff_t>(at),
                            local.begin() + static_cast<std::ptrdiff_t>(
                                                std::min(local.size(), at + 1 + random() % 300)));
            }
        }
        const std::vector<Piece> entries = testing::chunkEntries(target, blockSize);
        std::istringstream referenceStream(testing::asString(local));
        const reference::ReferencePlan expected =
            reference::buildBlockPlan(referenceStream, entries);

        const std::string path = folder.write("large.bin", local);
        std::ifstream stream(path, std::ios::binary);
        MatcherOptions options;
        options.scanPath = GetParam();
        ::testing::internal::CaptureStdout();
        const BlockPlan plan = buildBlockPlan(stream, entries, 0, options);
        ::testing::internal::GetCapturedStdout();
        ASSERT_EQ(plan.pieces, expected.pieces) << "block " << blockSize;
        ASSERT_GT(plan.pieces.size(), entries.size() / 2);
        expectPlanRebuildsTarget(Case{target, local, blockSize, "large"}, plan);
    }
}

INSTANTIATE_TEST_SUITE_P(ScanPaths, MatcherEquivalence,
                         ::testing::Values(ScanPath::plain, ScanPath::avx2),
                         [](const ::testing::TestParamInfo<ScanPath>& info) {
                             return info.param == ScanPath::plain ? "plain" : "avx2";
                         });

}  // namespace
}  // namespace veldmoor
