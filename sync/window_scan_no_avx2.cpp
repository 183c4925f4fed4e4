// Processors without the AVX2 path: only the plain one runs (sync/CMakeLists.txt chooses this
// file where window_scan_avx2.cpp cannot be built).
#include <cstdlib>

#include "sync/window_scan_paths.h"

namespace veldmoor::scan_paths {

bool avx2Runs() {
    return false;
}

ScanStop scanAvx2(const unsigned char*, std::size_t, std::size_t, std::uint32_t, std::uint32_t&,
                  WeakFilter, const LeavingTable&) {
    std::abort();  // never chosen: avx2Runs() is false
}

std::uint32_t checksumAvx2(const unsigned char*, std::uint32_t) {
    std::abort();
}

}  // namespace veldmoor::scan_paths
