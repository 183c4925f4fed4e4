// The CRC-32 of the chunk index, the file list's sums and every check of a rebuilt file: zlib's
// (the IEEE polynomial, as zlib's crc32 computes it), and bit for bit the same value. Long
// inputs are folded with the processor's carry-less multiply where it has one: zlib's own loop
// runs at about 2.5 GB/s on the machines this was measured on, and a large file's update takes
// two CRC-32s of every byte (its blocks as they are matched, the whole file as it is checked).
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldmoor {

// The CRC-32 of what came before (`crc`, 0 for nothing) extended by `size` bytes at `data`, as
// zlib's crc32(crc, data, size).
std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// The CRC-32 of two inputs one after the other, from the CRC-32 of each and the second's
// length, as zlib's crc32_combine64.
std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);

// Whether crc32Update folds long inputs with the carry-less multiply on this processor; the
// benchmarks say which ran.
bool crc32Folds();

}  // namespace veldmoor
