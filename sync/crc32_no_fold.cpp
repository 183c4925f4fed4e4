// Processors without the folding path: zlib's loop alone runs (sync/CMakeLists.txt chooses this
// file where crc32_fold.cpp cannot be built).
#include <cstdlib>

#include "sync/crc32_paths.h"

namespace veldmoor::crc32_paths {

bool foldingRuns() {
    return false;
}

std::uint32_t crc32Folded(std::uint32_t, const unsigned char*, std::size_t) {
    std::abort();  // never chosen: foldingRuns() is false
}

}  // namespace veldmoor::crc32_paths
