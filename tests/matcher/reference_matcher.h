// A deliberately plain implementation of the block matcher, step by step as the matcher is
// defined: a buffer of two windows, a std::unordered_map looked up at every byte, a refill
// that moves the second window to the front, a re-read after each match. The real matcher
// must produce exactly its plan; the benchmark uses it as the peer.
#pragma once

#include <cstdint>
#include <istream>
#include <vector>

#include "sync/chunk_index.h"

namespace veldmoor::reference {

// What one pass reported on its diagnostic line, apart from the bucket count.
struct PassReport {
    std::size_t chunks = 0;
    std::uint32_t initialWeak = 0;
};

struct ReferencePlan {
    std::vector<Piece> pieces;  // local pieces, sorted by target offset
    std::vector<PassReport> passes;
};

// `local` must be positioned at offset 0. Block sizes of 0 are not supported.
ReferencePlan buildBlockPlan(std::istream& local, const std::vector<Piece>& entries);

}  // namespace veldmoor::reference
