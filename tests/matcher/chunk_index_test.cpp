#include "sync/chunk_index.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "chunk_fixture.h"

namespace veldmoor {
namespace {

using testing::appendU32;
using testing::indexDocument;

// Reads the document whole and a byte at a time, as libcurl may hand a body over, and requires
// both to agree.
bool parseBoth(const std::string& document, ChunkIndex& index) {
    ChunkIndexReader whole;
    const bool wholeValid = whole.feed(document.data(), document.size()) && whole.finish();
    ChunkIndexReader bytewise;
    bool bytewiseValid = true;
    for (const char& byte : document) {
        bytewiseValid = bytewiseValid && bytewise.feed(&byte, 1);
    }
    bytewiseValid = bytewise.finish() && bytewiseValid;
    EXPECT_EQ(wholeValid, bytewiseValid);
    EXPECT_EQ(whole.index().targetSize, bytewise.index().targetSize);
    EXPECT_EQ(whole.index().targetCrc, bytewise.index().targetCrc);
    EXPECT_EQ(whole.index().entries, bytewise.index().entries);
    index = whole.index();
    return wholeValid;
}

Piece record(std::uint32_t weak, std::uint32_t strong, std::uint32_t length) {
    Piece entry;
    entry.weak = weak;
    entry.strong = strong;
    entry.length = length;
    return entry;
}

TEST(ChunkIndexParse, HeaderOnlyIsValidWithoutEntries) {
    ChunkIndex index;
    ASSERT_TRUE(parseBoth(indexDocument(5000, 0xDEADBEEF, {}), index));
    EXPECT_EQ(index.targetSize, 5000u);
    EXPECT_EQ(index.targetCrc, 0xDEADBEEFu);
    EXPECT_TRUE(index.entries.empty());
}

TEST(ChunkIndexParse, ReadsLittleEndianRecordsAndComputesOffsets) {
    const std::string document = indexDocument(
        10, 0x01020304, {record(0x11223344, 0xAABBCCDD, 4), record(5, 6, 4), record(7, 8, 2)});
    EXPECT_EQ(static_cast<unsigned char>(document[0]), 0xA8);  // magic, low byte first
    ChunkIndex index;
    ASSERT_TRUE(parseBoth(document, index));
    ASSERT_EQ(index.entries.size(), 3u);
    EXPECT_EQ(index.entries[0].weak, 0x11223344u);
    EXPECT_EQ(index.entries[0].strong, 0xAABBCCDDu);
    const std::uint32_t offsets[] = {0, 4, 8};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(index.entries[i].targetOffset, offsets[i]);
        EXPECT_EQ(index.entries[i].sourceOffset, 0u);
        EXPECT_EQ(index.entries[i].kind, kPieceLocal);
    }
    EXPECT_EQ(index.entries[2].length, 2u);
}

TEST(ChunkIndexParse, DropsAPartialLastRecord) {
    for (std::size_t extra = 1; extra < kChunkRecordSize; ++extra) {
        std::string document = indexDocument(8, 1, {record(1, 2, 4), record(3, 4, 4)});
        document.append(extra, '\x5A');
        ChunkIndex index;
        ASSERT_TRUE(parseBoth(document, index)) << extra << " extra bytes";
        EXPECT_EQ(index.entries.size(), 2u) << extra << " extra bytes";
    }
}

TEST(ChunkIndexParse, TenTrailingBytesAreIgnored) {
    std::string document = indexDocument(4, 1, {record(1, 2, 4)});
    document.append(10, '\0');
    ChunkIndex index;
    ASSERT_TRUE(parseBoth(document, index));
    EXPECT_EQ(index.entries.size(), 1u);
}

TEST(ChunkIndexParse, WrongMagicIsInvalid) {
    ChunkIndex index;
    EXPECT_FALSE(parseBoth(indexDocument(4, 1, {record(1, 2, 4)}, 0xC53F81A9), index));
    EXPECT_FALSE(parseBoth(indexDocument(4, 1, {}, 0xA8813FC5), index));  // byte order swapped
}

TEST(ChunkIndexParse, DocumentEndingWithinTheHeaderIsInvalid) {
    const std::string full = indexDocument(4, 1, {});
    for (std::size_t size = 0; size < full.size(); ++size) {
        ChunkIndex index;
        EXPECT_FALSE(parseBoth(full.substr(0, size), index)) << size << " bytes";
    }
}

TEST(ChunkIndexParse, RefusesARecordOfLengthZeroAndMoreRecordsThanTheSizeAllows) {
    ChunkIndex index;
    EXPECT_FALSE(parseBoth(indexDocument(8, 1, {record(1, 2, 4), record(3, 4, 0)}), index));
    std::vector<Piece> records(2 + kChunkRecordMargin + 1, record(1, 2, 4));
    EXPECT_FALSE(parseBoth(indexDocument(8, 1, records), index));
    records.pop_back();
    EXPECT_TRUE(parseBoth(indexDocument(8, 1, records), index));
}

TEST(ChunkIndexParse, RandomBytesNeverBreakTheParser) {
    std::mt19937 random(1234);
    for (int round = 0; round < 20000; ++round) {
        std::string document;
        if (round % 2 == 0) {
            appendU32(document, kChunkIndexMagic);
        }
        const std::size_t size = random() % 200;
        for (std::size_t i = 0; i < size; ++i) {
            document.push_back(static_cast<char>(random()));
        }
        ChunkIndex index;
        const bool valid = parseBoth(document, index);
        bool expectValid = document.size() >= 12 && document.compare(0, 4, "\xA8\x81\x3F\xC5") == 0;
        for (std::size_t at = 20; expectValid && at + 4 <= document.size(); at += 12) {
            expectValid = document.compare(at, 4, std::string(4, '\0')) != 0;
        }
        ASSERT_EQ(valid, expectValid);
        if (valid) {
            ASSERT_EQ(index.entries.size(), (document.size() - 12) / 12);
            std::uint32_t offset = 0;
            for (const Piece& entry : index.entries) {
                ASSERT_EQ(entry.targetOffset, offset);
                offset += entry.length;
            }
        }
    }
}

}  // namespace
}  // namespace veldmoor
