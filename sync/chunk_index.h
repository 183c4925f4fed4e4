// The chunk index of one repository file and the block plan built from it.
//
// The index document (served next to the file as "<path>.chunks") is little-endian:
//   magic 0xC53F81A8 | target size | target CRC-32 | records of 12 bytes (weak, crc32, length)
// Chunk offsets are not stored: each chunk starts where the previous one ends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veldmoor {

inline constexpr std::uint32_t kChunkIndexMagic = 0xC53F81A8u;
inline constexpr std::size_t kChunkIndexHeaderSize = 12;
inline constexpr std::size_t kChunkRecordSize = 12;

// Chunk entries and local pieces carry kind 1, pieces still to be downloaded kind 2, pieces
// taken from the resume data of a broken transfer (sync/resume_data.h) kind 3.
enum PieceKind : std::uint32_t {
    kPieceLocal = 1,
    kPieceDownload = 2,
    kPieceResume = 3,
};

// One record type serves for chunk entries of the index and for pieces of a plan.
struct Piece {
    std::uint32_t targetOffset = 0;  // where the bytes belong in the target file
    std::uint32_t length = 0;
    std::uint32_t weak = 0;          // unused for download pieces
    std::uint32_t strong = 0;        // CRC-32 of the bytes; unused for download pieces
    std::uint32_t sourceOffset = 0;  // local pieces: start in the local copy; 0 for chunk entries
    std::uint32_t kind = kPieceLocal;

    friend bool operator==(const Piece&, const Piece&) = default;
};

struct ChunkIndex {
    std::uint32_t targetSize = 0;
    std::uint32_t targetCrc = 0;
    std::vector<Piece> entries;  // document order, target offsets computed
};

// The target file as an ordered sequence of pieces, each copied from the local copy or
// downloaded. After planGaps the pieces are sorted by target offset and cover the target
// [0, target size) without gaps or overlaps.
struct BlockPlan {
    std::vector<Piece> pieces;
    std::uint32_t expectedCrc = 0;  // CRC-32 of the whole target file, from the index header
};

// Most records any index may hold: a file just under 4 GiB in blocks of 4 KiB, plus room. At 24
// bytes a parsed record, this bounds an index's memory to 26 MB whatever the server sends.
inline constexpr std::uint32_t kMaxChunkRecords = (1u << 20) + (1u << 16);
// Records an index may hold beyond what its header's file size and its first record's length
// (the block size) imply.
inline constexpr std::uint32_t kChunkRecordMargin = 16;
// Most bytes an index document may take as it travels (compressed or not).
inline constexpr std::uint64_t kMaxChunkIndexBytes =
    kChunkIndexHeaderSize + std::uint64_t{kChunkRecordSize} * kMaxChunkRecords;

// Reads an index document block by block as it arrives, keeping only the parsed records, and
// refuses it as soon as it cannot be one: a wrong magic, a record of length 0, or more records
// than its target size in blocks of its first record's length (plus kChunkRecordMargin, at
// most kMaxChunkRecords). A record cut short by the end of the data is dropped.
class ChunkIndexReader {
public:
    // False once the document is refused; problem() then says why.
    bool feed(const char* data, std::size_t size);
    // False when the header never came whole (or the document was refused).
    bool finish();
    const std::string& problem() const { return problem_; }
    ChunkIndex& index() { return index_; }

private:
    bool refuse(std::string problem);
    bool takeHeader();
    bool takeRecord();

    ChunkIndex index_;
    unsigned char pending_[kChunkRecordSize] = {};
    std::size_t pendingSize_ = 0;
    bool headerDone_ = false;
    std::uint32_t allowedRecords_ = kMaxChunkRecords;
    std::uint32_t offset_ = 0;
    std::string problem_;
};

// Told of each local piece as the matcher finds it, in the local copy's order, with its bytes
// (valid during the call only).
using MatchSink = std::function<void(const Piece& piece, const unsigned char* bytes)>;

// Finds the chunks of `entries` that the local copy at `localPath` already holds, at any
// offset. The plan holds only local pieces, sorted by target offset. A local copy that cannot
// be read yields a plan without local pieces. Writes the matcher's one diagnostic line
// ("Buckets: %i, chunks: %i, initial: %08x") to standard output for every pass it runs.
BlockPlan buildBlockPlan(const std::string& localPath, const std::vector<Piece>& entries,
                         std::uint32_t expectedCrc, const MatchSink& onMatch = nullptr);

// Inserts download pieces for every stretch of [0, targetSize) no local piece covers, so the
// plan covers the target exactly. Local pieces that overlap the covered prefix or reach past
// the target's end (possible only with a faulty index) are dropped and downloaded instead.
void planGaps(BlockPlan& plan, std::uint32_t targetSize);

}  // namespace veldmoor
