// The CRC-32's paths: zlib's runs everywhere; the folding one is compiled only for processors
// that may have it (the build chooses its file), and crc32.cpp picks between them at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldmoor::crc32_paths {

// Inputs shorter than this go to zlib whole: folding pays off from a few of its 64-byte steps.
inline constexpr std::size_t kFoldFrom = 256;

// Whether this processor runs the folding path; always false where it is not compiled in.
bool foldingRuns();
// Only where foldingRuns(), and for at least kFoldFrom bytes.
std::uint32_t crc32Folded(std::uint32_t crc, const unsigned char* data, std::size_t size);

}  // namespace veldmoor::crc32_paths
