#include "sync/chunk_index.h"

#include <cstring>

namespace veldmoor {

namespace {

bool readU32(std::istream& in, std::uint32_t& value) {
    unsigned char bytes[4];
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (in.gcount() != static_cast<std::streamsize>(sizeof bytes)) {
        return false;
    }
    value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
            (static_cast<std::uint32_t>(bytes[2]) << 16) |
            (static_cast<std::uint32_t>(bytes[3]) << 24);
    return true;
}

}  // namespace

bool parseChunkIndex(std::istream& in, ChunkIndex& index) {
    index = ChunkIndex{};
    std::uint32_t magic = 0;
    if (!readU32(in, magic) || !readU32(in, index.targetSize) || !readU32(in, index.targetCrc) ||
        magic != kChunkIndexMagic) {
        index = ChunkIndex{};
        return false;
    }
    std::uint32_t offset = 0;
    for (;;) {
        Piece entry;
        const bool complete =
            readU32(in, entry.weak) && readU32(in, entry.strong) && readU32(in, entry.length);
        if (!complete) {
            // End of data within a record: the partial record is dropped. Any other failure
            // of the stream makes the document unusable.
            if (in.eof() && !in.bad()) {
                return true;
            }
            index = ChunkIndex{};
            return false;
        }
        entry.targetOffset = offset;
        entry.kind = kPieceLocal;
        index.entries.push_back(entry);
        offset += entry.length;
    }
}

bool parseChunkIndex(std::string_view document, ChunkIndex& index) {
    index = ChunkIndex{};
    const auto u32At = [&document](std::size_t at) {
        unsigned char bytes[4];
        std::memcpy(bytes, document.data() + at, sizeof bytes);
        return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
               (static_cast<std::uint32_t>(bytes[2]) << 16) |
               (static_cast<std::uint32_t>(bytes[3]) << 24);
    };
    if (document.size() < kChunkIndexHeaderSize || u32At(0) != kChunkIndexMagic) {
        return false;
    }
    index.targetSize = u32At(4);
    index.targetCrc = u32At(8);
    const std::size_t records = (document.size() - kChunkIndexHeaderSize) / kChunkRecordSize;
    index.entries.reserve(records);
    std::uint32_t offset = 0;
    for (std::size_t r = 0; r < records; ++r) {
        const std::size_t at = kChunkIndexHeaderSize + r * kChunkRecordSize;
        Piece entry;
        entry.weak = u32At(at);
        entry.strong = u32At(at + 4);
        entry.length = u32At(at + 8);
        entry.targetOffset = offset;
        entry.kind = kPieceLocal;
        index.entries.push_back(entry);
        offset += entry.length;
    }
    return true;
}

}  // namespace veldmoor
