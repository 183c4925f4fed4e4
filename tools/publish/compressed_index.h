// The gzip copy of a large chunk index beside the index (kCompressedIndexSuffix). A web server
// that hands out such a copy when the client accepts gzip (nginx's gzip_static) spends nothing
// on an index of hundreds of KiB per request; compressing it for every request took longer
// than sending it uncompressed over loopback. Small indexes are left to the server.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "system/result.h"

namespace veldmoor {

// Indexes of at least this many bytes get a compressed copy (files of about 20 MiB and more).
inline constexpr std::size_t kCompressedIndexMinBytes = std::size_t{64} << 10;

// Where the compressed copy of the index at `indexPath` lives.
std::string CompressedIndexPathOf(const std::string& indexPath);

// Removes the compressed copy of the index at `indexPath`. Called before the index is
// replaced, so that a server never hands out the copy of an older index.
Status RemoveCompressedIndex(const std::string& indexPath);

// Writes the compressed copy of `index` (the bytes of the index at `indexPath`) atomically
// when the index is large enough. Any older copy was removed before the index moved.
Status WriteCompressedIndex(const std::string& indexPath, std::string_view index);

// For an index left unchanged: writes its compressed copy when it should have one and has not
// (a repository written before the copies existed, or a publish stopped in between).
Status EnsureCompressedIndex(const std::string& indexPath);

}  // namespace veldmoor
