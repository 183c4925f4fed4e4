#include "sync/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

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

}  // namespace veldmoor
