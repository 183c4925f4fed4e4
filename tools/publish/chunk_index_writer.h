// Writes a file's chunk index: magic 0xC53F81A8, target size, CRC-32 of the whole file, then
// one 12-byte record per block (weak checksum, CRC-32, length), all unsigned 32-bit
// little-endian. Every block has the block size except a shorter last one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sync/chunk_index.h"
#include "sync/signed_metadata.h"
#include "system/result.h"
#include "tools/publish/publish_stop.h"

namespace veldmoor {

inline constexpr std::uint64_t kMaxPublishedFileSize = 0xFFFFFFFFull;  // sizes are 32-bit

// The block size rule: small blocks find more of a small file, while every block costs 12
// bytes of index and one weak-checksum entry in the client's table, so larger files get larger
// blocks. Files under 256 KiB: 1024 bytes; under 8 MiB: 2048; larger: 4096 (at most 0.3 % of
// the file as index, and one changed byte costs at most 4 KiB of download).
std::uint32_t BlockSizeFor(std::uint64_t fileSize);

struct IndexedCopy {
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t blocks = 0;
    Sha256Digest sha256{};  // of the bytes read, for the signed manifest
};

// Reads `source` once, writing a byte-exact copy to `copyPath` and its index to `indexPath`
// (both replaced atomically through temporary files next to them), and a large index's
// compressed copy beside it (tools/publish/compressed_index.h). Fails naming the file
// concerned on any read or write failure, and with Fault::Stopped when `stop` asks for it
// between blocks; either way the temporary files are gone and the old pair stays.
Result<IndexedCopy> WriteCopyAndIndex(const std::string& source, const std::string& copyPath,
                                      const std::string& indexPath, std::uint32_t blockSize,
                                      const PublishStopCheck& stop = {});

// Rewrites only the index of `file` (its content unchanged, a new block size).
Result<IndexedCopy> WriteIndex(const std::string& file, const std::string& indexPath,
                               std::uint32_t blockSize, const PublishStopCheck& stop = {});

// The header of an existing index and its first record's length.
struct IndexHead {
    std::uint32_t size = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t blockSize = 0;  // 0 when the index has no records
};
// Nothing when the index is missing, unreadable or not an index.
std::optional<IndexHead> ReadIndexHead(const std::string& indexPath);

// Block size recorded in an existing index (its first record's length); 0 when the index
// is missing, unreadable, or has no records.
std::uint32_t IndexBlockSize(const std::string& indexPath);

}  // namespace veldmoor
