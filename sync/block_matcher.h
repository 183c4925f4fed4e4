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

#include <cstdint>
#include <istream>
#include <vector>

#include "sync/chunk_index.h"

namespace veldmoor {

// buildBlockPlan over an open stream positioned anywhere; it is read in large blocks and
// seeked. Used by the path overload and by tests.
BlockPlan buildBlockPlan(std::istream& local, const std::vector<Piece>& entries,
                         std::uint32_t expectedCrc);

}  // namespace veldmoor
