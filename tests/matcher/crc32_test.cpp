// The engine's CRC-32 must be zlib's, bit for bit, whatever the length (below, at and above
// where folding starts, across every tail of a 64-byte step), the alignment, the value it
// continues from, and however the input is cut into pieces.
#include "sync/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "sync/crc32_paths.h"

namespace veldmoor {
namespace {

struct CrcCase {
    std::size_t length;
    std::size_t offset;    // from a 64-byte boundary
    std::uint32_t before;  // the CRC-32 continued from
};

class Crc32Matches : public ::testing::TestWithParam<CrcCase> {
protected:
    static std::vector<unsigned char> bytes(std::size_t size) {
        std::vector<unsigned char> data(size);
        std::mt19937 random(static_cast<unsigned>(size));
        for (auto& byte : data) {
            byte = static_cast<unsigned char>(random());
        }
        return data;
    }
};

std::uint32_t zlibCrc(std::uint32_t before, const unsigned char* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32(before, data, static_cast<uInt>(length)));
}

TEST_P(Crc32Matches, ZlibWholeAndInPieces) {
    const CrcCase c = GetParam();
    const std::vector<unsigned char> buffer = bytes(c.offset + c.length + 64);
    const unsigned char* data = buffer.data() + c.offset;
    const std::uint32_t expected = zlibCrc(c.before, data, c.length);
    EXPECT_EQ(crc32Update(c.before, data, c.length), expected);
    if (crc32_paths::foldingRuns() && c.length >= crc32_paths::kFoldFrom) {
        EXPECT_EQ(crc32_paths::crc32Folded(c.before, data, c.length), expected);
    }
    for (const std::size_t piece : {std::size_t{1}, std::size_t{300}, std::size_t{4096}}) {
        std::uint32_t crc = c.before;
        for (std::size_t at = 0; at < c.length; at += piece) {
            crc = crc32Update(crc, data + at, std::min(piece, c.length - at));
        }
        EXPECT_EQ(crc, expected) << "in pieces of " << piece;
    }
    // Cut in two and put together again, as the check of a file read back out of order does.
    const std::size_t cut = c.length / 3;
    EXPECT_EQ(crc32Combine(crc32Update(c.before, data, cut),
                           crc32Update(0, data + cut, c.length - cut), c.length - cut),
              expected);
}

std::vector<CrcCase> crcCases() {
    std::vector<CrcCase> cases;
    for (const std::size_t length :
         {std::size_t{0}, std::size_t{1}, std::size_t{63}, crc32_paths::kFoldFrom - 1,
          crc32_paths::kFoldFrom, crc32_paths::kFoldFrom + 15, crc32_paths::kFoldFrom + 16,
          crc32_paths::kFoldFrom + 63, std::size_t{4096}, std::size_t{4097},
          std::size_t{1} << 20U}) {
        for (const std::size_t offset : {std::size_t{0}, std::size_t{5}, std::size_t{48}}) {
            for (const std::uint32_t before : {0U, 0xFFFFFFFFU, 0x2144DF1CU}) {
                cases.push_back({length, offset, before});
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LengthsAlignmentsAndStarts, Crc32Matches, ::testing::ValuesIn(crcCases()));

TEST(Crc32, TheFoldingPathRunsOnThisProcessor) {
    if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1")) {
        GTEST_SKIP() << "this processor has no carry-less multiply: zlib's loop alone runs";
    }
    EXPECT_TRUE(crc32Folds()) << "zlib's loop runs where the folding path could";
}

}  // namespace
}  // namespace veldmoor
