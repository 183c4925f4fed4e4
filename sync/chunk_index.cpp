#include "sync/chunk_index.h"

#include <algorithm>
#include <cstring>

namespace veldmoor {

namespace {

std::uint32_t u32Of(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace

bool ChunkIndexReader::refuse(std::string problem) {
    problem_ = std::move(problem);
    index_ = ChunkIndex{};
    return false;
}

bool ChunkIndexReader::takeHeader() {
    if (u32Of(pending_) != kChunkIndexMagic) {
        return refuse("it does not start with the index's magic number");
    }
    index_.targetSize = u32Of(pending_ + 4);
    index_.targetCrc = u32Of(pending_ + 8);
    headerDone_ = true;
    return true;
}

bool ChunkIndexReader::takeRecord() {
    Piece entry;
    entry.weak = u32Of(pending_);
    entry.strong = u32Of(pending_ + 4);
    entry.length = u32Of(pending_ + 8);
    entry.targetOffset = offset_;
    entry.kind = kPieceLocal;
    if (entry.length == 0) {
        return refuse("record " + std::to_string(index_.entries.size() + 1) + " has the length 0");
    }
    if (index_.entries.empty()) {
        // The first record's length is the block size: the header's file size then says how
        // many records can follow. Reserving that many at once also spares the vector's
        // doubling, which would briefly hold half as much again.
        const std::uint64_t expected =
            (std::uint64_t{index_.targetSize} + entry.length - 1) / entry.length;
        allowedRecords_ = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(expected + kChunkRecordMargin, kMaxChunkRecords));
        index_.entries.reserve(allowedRecords_);
    }
    if (index_.entries.size() >= allowedRecords_) {
        return refuse("it holds more than " + std::to_string(allowedRecords_) +
                      " records, more than a file of " + std::to_string(index_.targetSize) +
                      " bytes in blocks of " + std::to_string(index_.entries.front().length) +
                      " bytes can have");
    }
    index_.entries.push_back(entry);
    offset_ += entry.length;
    return true;
}

bool ChunkIndexReader::feed(const char* data, std::size_t size) {
    if (!problem_.empty()) {
        return false;
    }
    while (size > 0) {
        const std::size_t want = headerDone_ ? kChunkRecordSize : kChunkIndexHeaderSize;
        const std::size_t take = std::min(want - pendingSize_, size);
        std::memcpy(pending_ + pendingSize_, data, take);
        pendingSize_ += take;
        data += take;
        size -= take;
        if (pendingSize_ < want) {
            break;
        }
        pendingSize_ = 0;
        if (!(headerDone_ ? takeRecord() : takeHeader())) {
            return false;
        }
    }
    return true;
}

bool ChunkIndexReader::finish() {
    if (problem_.empty() && !headerDone_) {
        return refuse("it ends within its header");
    }
    return problem_.empty();
}

}  // namespace veldmoor
