// The block matcher: finds the chunks of an index that a local copy already holds.
//
// A pass slides a window of the block size over the local copy one byte at a time and looks
// each window's weak checksum up among the chunk entries; a window whose CRC-32 confirms the
// match claims every unclaimed entry with those checksums, and the scan resumes just after
// it, so matched windows never overlap. A window whose weak checksum belongs only to chunks
// that are already claimed also counts as a match: the scan jumps over it.
//
// buildBlockPlan runs one pass over all entries when every chunk has the block size;
// otherwise a first pass over all but the shorter last chunk, then (only if the first pass
// found something) a pass for the last chunk alone, starting where the last found piece ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/window_scan.h"

namespace veldmoor {

struct MatcherOptions {
    // Bytes read from the local copy at a time, beyond the one window kept between reads.
    // The plan does not depend on it; tests make it tiny to exercise the refills.
    std::size_t readBlock = std::size_t{1} << 20;
    // Only this many bytes at the start of the local copy are searched: a piece's source
    // offset is 32-bit, and a match found further on would copy the wrong bytes.
    std::uint64_t searchLimit = std::uint64_t{1} << 32;
    // How the windows are rolled and filtered; the plan does not depend on it.
    ScanPath scanPath = fastestScanPath();
    // Told of each piece as it is found; the plan does not depend on it.
    MatchSink onMatch;
};

// buildBlockPlan over an open stream; it is seeked and read in large blocks. Used by the path
// overload, the tests and the benchmark.
BlockPlan buildBlockPlan(std::istream& local, const std::vector<Piece>& entries,
                         std::uint32_t expectedCrc, const MatcherOptions& options = {});

}  // namespace veldmoor
