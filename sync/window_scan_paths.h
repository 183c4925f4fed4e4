// The scan's paths, each in a file of its own: the plain one runs everywhere, the vector one is
// compiled only for processors that may have it (the build chooses its file), and
// window_scan.cpp picks between them at run time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sync/candidate_table.h"
#include "sync/window_scan.h"

namespace veldmoor::scan_paths {

using LeavingTable = std::array<std::uint32_t, 256>;

ScanStop scanPlain(const unsigned char* data, std::size_t s, std::size_t last,
                   std::uint32_t windowLength, std::uint32_t& weak, WeakFilter filter,
                   const LeavingTable& leaving);

// Whether this processor (and its operating system) runs the AVX2 path; always false where it
// is not compiled in.
bool avx2Runs();
// Only where avx2Runs().
ScanStop scanAvx2(const unsigned char* data, std::size_t s, std::size_t last,
                  std::uint32_t windowLength, std::uint32_t& weak, WeakFilter filter,
                  const LeavingTable& leaving);
std::uint32_t checksumAvx2(const unsigned char* window, std::uint32_t length);

}  // namespace veldmoor::scan_paths
