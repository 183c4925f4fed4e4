// The receiving side of a file's range download: takes the answers to the range requests of
// one file, block by block as libcurl hands them over, reads their headers to know how the body
// is laid out, and hands each stretch of the file it brings to the file's PieceSink
// (sync/piece_sink.h), which writes it straight to its offset in the file being rebuilt.
//
// Every stretch of an answer is placed by the file offset its headers give, never by the order
// the ranges were asked in, since servers answer as HTTP allows: fewer parts than asked (a
// server's own limit), parts in any order, adjacent or overlapping ranges merged into one part,
// a multipart body opening with a preamble (read by the MultipartParser, sync/
// multipart_parser.h), one Content-Range for a request of several ranges, or the whole file
// (200) when the Range header is ignored or the answer compressed. A body without any word from
// the headers to one range asked is its raw bytes.
//
// Blocks may be split anywhere; the file comes out the same whether the body arrives whole or
// one byte at a time. At most a block and a part header are held in memory: an answer that
// cannot be placed (a multipart answer without its boundary, a whole large file sent for
// several ranges, an error status) makes the body callback fail, which ends the transfer.
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
#include "sync/piece_sink.h"
#include "sync/repo_sync.h"

namespace veldmoor {

class RangeReceiver {
public:
    static constexpr std::size_t kMaxHeldBytes = MultipartParser::kMaxHeldBytes;
    // A whole-file answer (200) to a request of several ranges is read only while the file is
    // small or the ranges make up much of it; otherwise it counts as a refusal of the request,
    // and the caller asks again with fewer ranges.
    static constexpr std::uint64_t kLargeWholeAnswer = 1024 * 1024;

    // Why the current answer could not be used.
    enum class Refusal {
        None,
        ErrorStatus,      // neither 200 nor 206
        LargeWholeFile,   // 200 with a large file to a request of several ranges
        UnplaceableBody,  // multipart without boundary, or a part header too long
    };

    // `pending`: the file's download pieces in target order, not overlapping (only offset and
    // length are used). `target`: the open temporary file; only seeked and written. `path`: the
    // repository path, first argument of `progress`.
    RangeReceiver(std::ostream& target, std::vector<Piece> pending, ProgressCallback progress,
                  std::string path);

    // What the pieces still lack (PieceSink::missingRanges).
    std::vector<HttpRange> missingRanges() const { return sink_.missingRanges(); }
    // What has come (PieceSink::receivedPieces).
    std::vector<Piece> receivedPieces() const { return sink_.receivedPieces(); }
    // Gives up pieces not begun (PieceSink::handOffAfter), for other receivers to fetch over
    // other connections at the same time. What the current request asks for stays when
    // `keepMissing` is at least the ranges it asks for.
    std::vector<Piece> handOffAfter(std::size_t keepMissing) {
        return sink_.handOffAfter(keepMissing);
    }

    // Prepares for the answer to the next request, which asks for `asked`.
    void beginResponse(std::vector<HttpRange> asked);

    // One response header line, with or without its CR LF.
    void onHeaderLine(std::string_view line);
    // One block of the body. False when the transfer must end: the answer cannot be placed
    // (refusal), or (endedEarly) a whole-file answer has already delivered every piece.
    bool onBody(const char* data, std::size_t size);
    // The current answer has ended, whole or cut short: the data held back as a possible
    // delimiter start is placed, as far as no delimiter can begin in it. An answer cut off
    // inside its closing delimiter has then brought every byte of its parts.
    void endBody();
    bool endedEarly() const { return endedEarly_; }
    Refusal refusal() const { return refusal_; }
    // Parts of a multipart answer begun so far in the current answer.
    std::size_t partsSeen() const { return parser_.partsSeen(); }

    // libcurl callbacks; user data is the RangeReceiver.
    static std::size_t headerCallback(char* data, std::size_t size, std::size_t count,
                                      void* receiver);
    static std::size_t bodyCallback(char* data, std::size_t size, std::size_t count,
                                    void* receiver);

    const std::string& boundary() const { return boundary_; }
    // Bytes of the pieces received so far (each byte counted once).
    std::uint32_t written() const { return sink_.written(); }
    std::uint32_t toWrite() const { return sink_.toWrite(); }
    // The repository path of the file the pieces belong to.
    const std::string& path() const { return sink_.path(); }
    // True once every piece has been received completely.
    bool complete() const { return sink_.complete(); }
    // Pieces received completely so far.
    std::size_t completePieces() const { return sink_.completePieces(); }
    // CRC-32 of each piece, in target order (PieceSink::pieceCrcs): lets the caller check the
    // rebuilt file without reading it again.
    bool piecesWhole() const { return sink_.piecesWhole(); }
    std::vector<std::uint32_t> pieceCrcs() const { return sink_.pieceCrcs(); }

private:
    enum class Layout { Undecided, Multipart, Stream };

    bool chooseLayout();
    // Hands what of `size` bytes at file offset `at_` lies within the stream's range to the
    // sink.
    void placeStream(const char* data, std::size_t size);

    PieceSink sink_;

    // The current request and what its answer's headers said.
    std::vector<HttpRange> asked_;
    std::uint64_t askedBytes_ = 0;
    int status_ = 0;  // 0 until a status line arrives
    bool multipartType_ = false;
    bool hasContentRange_ = false;
    std::uint64_t contentRangeFirst_ = 0;
    std::uint64_t contentRangeEnd_ = 0;  // one past the last byte
    bool hasContentLength_ = false;
    std::uint64_t contentLength_ = 0;
    std::string boundary_;  // "--" + the boundary parameter of the current answer

    // Reading the current answer.
    Layout layout_ = Layout::Undecided;
    MultipartParser parser_;
    std::uint64_t at_ = 0;   // file offset of the next byte of a stream
    std::uint64_t end_ = 0;  // one past the stream's last byte
    Refusal refusal_ = Refusal::None;
    bool endedEarly_ = false;
};

}  // namespace veldmoor
