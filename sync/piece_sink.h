// Where the downloaded stretches of one file go: into the file being rebuilt, at their offsets,
// each byte of the pieces once. It keeps per piece how much has come from its start and the
// CRC-32 of those bytes, and tells the file's progress. It does not know where the stretches
// came from (a multipart body, a single range, a whole file).
//
// Bytes outside the pieces, or already received, are skipped; so are bytes past a gap in a
// piece (a stretch that begins inside it): what a piece still lacks is asked for again
// (missingRanges).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/http.h"
#include "sync/multipart_parser.h"
#include "sync/repo_sync.h"

namespace veldmoor {

class PieceSink final : public StretchSink {
public:
    // `pending`: the file's download pieces in target order, not overlapping (only offset and
    // length are used). `target`: the open temporary file; only seeked and written. `path`: the
    // repository path, first argument of `progress`.
    PieceSink(std::ostream& target, std::vector<Piece> pending, ProgressCallback progress,
              std::string path);

    // Writes what the pieces lack of the stretch at file offset `offset`; skips the rest.
    void take(std::uint64_t offset, std::string_view bytes) override;

    // What the pieces still lack, in target order: one range per incomplete piece, from its
    // first byte not yet received.
    std::vector<HttpRange> missingRanges() const;
    // What has come, in target order: one piece (offset, length) per piece begun.
    std::vector<Piece> receivedPieces() const;
    // Gives up the pieces after the first `keepMissing` incomplete ones, none of which has a
    // byte yet, and returns them.
    std::vector<Piece> handOffAfter(std::size_t keepMissing);

    // Bytes of the pieces received so far (each byte counted once).
    std::uint32_t written() const { return written_; }
    std::uint32_t toWrite() const { return toWrite_; }
    const std::string& path() const { return path_; }
    // True once every piece has been received completely.
    bool complete() const { return incomplete_ == 0; }
    // Pieces received completely so far.
    std::size_t completePieces() const { return pieces_.size() - incomplete_; }
    // CRC-32 of each piece, in target order, once complete; trustworthy while every write
    // succeeded (a failed write must be found by reading the file back).
    bool piecesWhole() const { return piecesWhole_; }
    std::vector<std::uint32_t> pieceCrcs() const;

private:
    void write(std::size_t piece, const char* data, std::uint32_t size);

    std::vector<Piece> pieces_;
    std::vector<std::uint32_t> received_;  // per piece: bytes received from its start
    std::vector<std::uint32_t> crcs_;      // per piece: CRC-32 of those bytes
    std::size_t incomplete_ = 0;
    std::uint32_t written_ = 0;
    std::uint32_t toWrite_ = 0;
    std::ostream& target_;
    ProgressCallback progress_;
    std::string path_;
    bool piecesWhole_ = true;
};

}  // namespace veldmoor
