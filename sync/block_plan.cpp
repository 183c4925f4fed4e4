#include <algorithm>
#include <cstdint>

#include "sync/chunk_index.h"

namespace veldmoor {

void planGaps(BlockPlan& plan, std::uint32_t targetSize) {
    std::vector<Piece> local;
    local.reserve(plan.pieces.size());
    for (const Piece& piece : plan.pieces) {
        if (piece.kind == kPieceLocal) {
            local.push_back(piece);
        }
    }
    std::stable_sort(local.begin(), local.end(), [](const Piece& x, const Piece& y) {
        return x.targetOffset < y.targetOffset;
    });

    const auto download = [](std::uint64_t from, std::uint64_t to) {
        Piece gap;
        gap.targetOffset = static_cast<std::uint32_t>(from);
        gap.length = static_cast<std::uint32_t>(to - from);
        gap.kind = kPieceDownload;
        return gap;
    };

    std::vector<Piece> pieces;
    pieces.reserve(local.size() * 2 + 1);
    std::uint64_t covered = 0;  // 64 bits: a faulty index may describe pieces past 4 GiB
    for (const Piece& piece : local) {
        const std::uint64_t begin = piece.targetOffset;
        const std::uint64_t end = begin + piece.length;
        // A piece that overlaps what is already planned or reaches past the target's end
        // can only come from an inconsistent index; its bytes are downloaded instead of
        // letting the plan describe a file of the wrong shape.
        if (begin < covered || end > targetSize || piece.length == 0) {
            continue;
        }
        if (begin > covered) {
            pieces.push_back(download(covered, begin));
        }
        pieces.push_back(piece);
        covered = end;
    }
    if (covered < targetSize) {
        pieces.push_back(download(covered, targetSize));
    }
    plan.pieces = std::move(pieces);
}

}  // namespace veldmoor
