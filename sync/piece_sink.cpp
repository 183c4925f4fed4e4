#include "sync/piece_sink.h"

#include <algorithm>
#include <utility>

#include "sync/crc32.h"

namespace veldmoor {

PieceSink::PieceSink(std::ostream& target, std::vector<Piece> pending, ProgressCallback progress,
                     std::string path)
    : pieces_(std::move(pending)),
      received_(pieces_.size(), 0),
      crcs_(pieces_.size(), 0),
      target_(target),
      progress_(std::move(progress)),
      path_(std::move(path)) {
    for (const Piece& piece : pieces_) {
        toWrite_ += piece.length;
        if (piece.length > 0) {
            ++incomplete_;
        }
    }
}

std::vector<HttpRange> PieceSink::missingRanges() const {
    std::vector<HttpRange> ranges;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        const Piece& piece = pieces_[i];
        if (received_[i] < piece.length) {
            ranges.push_back(
                {piece.targetOffset + received_[i], piece.targetOffset + piece.length - 1});
        }
    }
    return ranges;
}

std::vector<Piece> PieceSink::receivedPieces() const {
    std::vector<Piece> received;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
        if (received_[i] > 0) {
            Piece piece;
            piece.targetOffset = pieces_[i].targetOffset;
            piece.length = received_[i];
            piece.sourceOffset = piece.targetOffset;
            piece.kind = kPieceResume;
            received.push_back(piece);
        }
    }
    return received;
}

std::vector<Piece> PieceSink::handOffAfter(std::size_t keepMissing) {
    std::size_t cut = 0;
    for (std::size_t missing = 0; cut < pieces_.size(); ++cut) {
        if (received_[cut] < pieces_[cut].length && missing++ == keepMissing) {
            break;
        }
    }
    // Nothing begun is given away: the pieces from the cut on have no byte yet, or the cut
    // moves past them.
    for (std::size_t i = cut; i < pieces_.size(); ++i) {
        if (received_[i] > 0) {
            cut = i + 1;
        }
    }
    std::vector<Piece> given(pieces_.begin() + static_cast<std::ptrdiff_t>(cut), pieces_.end());
    for (const Piece& piece : given) {
        toWrite_ -= piece.length;
        if (piece.length > 0) {
            --incomplete_;
        }
    }
    pieces_.resize(cut);
    received_.resize(cut);
    crcs_.resize(cut);
    return given;
}

std::vector<std::uint32_t> PieceSink::pieceCrcs() const {
    return complete() ? crcs_ : std::vector<std::uint32_t>{};
}

void PieceSink::take(std::uint64_t offset, std::string_view bytes) {
    std::uint64_t at = offset;
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        // The first piece that ends past the current offset.
        const auto it = std::upper_bound(
            pieces_.begin(), pieces_.end(), at, [](std::uint64_t position, const Piece& piece) {
                return position < std::uint64_t{piece.targetOffset} + piece.length;
            });
        if (it == pieces_.end()) {
            return;
        }
        const auto index = static_cast<std::size_t>(it - pieces_.begin());
        const std::uint64_t pieceEnd = std::uint64_t{it->targetOffset} + it->length;
        const std::uint64_t wanted = std::uint64_t{it->targetOffset} + received_[index];
        std::uint64_t skip = 0;
        if (at < wanted) {
            skip = wanted - at;  // before the piece, or bytes already received
        } else if (at > wanted) {
            skip = pieceEnd - at;  // past a gap in this piece: it is asked for again
        } else {
            const auto k = static_cast<std::uint32_t>(std::min<std::uint64_t>(pieceEnd - at, size));
            write(index, data, k);
            data += k;
            size -= k;
            at += k;
            continue;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(skip, size));
        data += n;
        size -= n;
        at += n;
    }
}

void PieceSink::write(std::size_t piece, const char* data, std::uint32_t size) {
    target_.clear();
    target_.seekp(static_cast<std::streamoff>(pieces_[piece].targetOffset + received_[piece]));
    target_.write(data, size);
    if (target_.fail()) {
        piecesWhole_ = false;
    }
    crcs_[piece] = crc32Update(crcs_[piece], data, size);
    received_[piece] += size;
    if (received_[piece] == pieces_[piece].length) {
        --incomplete_;
    }
    written_ += size;
    if (progress_) {
        progress_(path_, written_, toWrite_);
    }
}

}  // namespace veldmoor
