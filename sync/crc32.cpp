#include "sync/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <limits>

#include "sync/crc32_paths.h"

namespace veldmoor {

std::uint32_t crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    static const bool folds = crc32_paths::foldingRuns();
    if (folds && size >= crc32_paths::kFoldFrom) {
        return crc32_paths::crc32Folded(crc, bytes, size);
    }
    // zlib takes an unsigned int length: a longer input goes in steps.
    uLong value = crc;
    while (size > 0) {
        const auto step = static_cast<uInt>(std::min<std::size_t>(size, UINT_MAX));
        value = crc32(value, bytes, step);
        bytes += step;
        size -= step;
    }
    return static_cast<std::uint32_t>(value);
}

bool crc32Folds() {
    return crc32_paths::foldingRuns();
}

std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength) {
    // zlib's length is a long, 32 bits on Windows. Combining with a CRC-32 of 0 only moves the
    // first one on by the length, so a longer second input is passed over in steps.
    constexpr std::uint64_t kStep = std::numeric_limits<z_off_t>::max();
    uLong value = first;
    for (; secondLength > kStep; secondLength -= kStep) {
        value = crc32_combine(value, 0, static_cast<z_off_t>(kStep));
    }
    return static_cast<std::uint32_t>(
        crc32_combine(value, second, static_cast<z_off_t>(secondLength)));
}

}  // namespace veldmoor
