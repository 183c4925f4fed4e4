// The receiving side of a file's range download: takes the answers to the range requests of
// one file, block by block as libcurl hands them over, and writes every downloaded byte straight
// to its offset in the file being rebuilt.
//
// An answer is placed by what its headers say:
// - multipart/byteranges (206 with "; boundary="): parts come one per requested range, in the
//   order requested; each part fills the first pending piece.
// - a plain stream of the file (200 with the whole file, as servers send when they ignore the
//   Range header or compress the answer; 206 with one Content-Range; or the answer to a request
//   of one range): each pending piece's bytes are taken at their offsets and the rest skipped.
// Blocks may be split anywhere; the file comes out the same whether the body arrives whole or
// one byte at a time. At most a block and a part header are held in memory: an answer that
// cannot be placed (a multipart answer without its boundary, more parts than pieces, an error
// status) makes the body callback fail, which ends the transfer with an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/repo_sync.h"

namespace veldmoor {

class RangeReceiver {
public:
    // Bytes held while waiting for a delimiter or part header before the answer counts as
    // one that cannot be placed. A part header is a few hundred bytes; libcurl hands over at
    // most 16 KiB at a time.
    static constexpr std::size_t kMaxHeldBytes = 64 * 1024;

    // `pending`: the file's download pieces in target order (only offset and length are used).
    // `target`: the open temporary file; only seeked and written. `path`: the repository path,
    // first argument of `progress`.
    RangeReceiver(std::ostream& target, std::vector<Piece> pending, ProgressCallback progress,
                  std::string path);

    // Prepares for the answer to the next request. `singleRange`: the request carries exactly
    // one range, so without other word from the headers its body is that range's raw bytes.
    void beginResponse(bool singleRange);

    // One response header line, with or without its CR LF.
    void onHeaderLine(std::string_view line);
    // One block of the body. False when the transfer must end: the answer cannot be placed, or
    // (endedEarly) a whole-file answer has already delivered every piece.
    bool onBody(const char* data, std::size_t size);
    bool endedEarly() const { return endedEarly_; }

    // libcurl callbacks; user data is the RangeReceiver.
    static std::size_t headerCallback(char* data, std::size_t size, std::size_t count,
                                      void* receiver);
    static std::size_t bodyCallback(char* data, std::size_t size, std::size_t count,
                                    void* receiver);

    const std::string& boundary() const { return boundary_; }
    std::uint32_t written() const { return written_; }
    std::uint32_t toWrite() const { return toWrite_; }
    // True once every piece has been received completely.
    bool complete() const { return pending_.empty(); }
    // CRC-32 of each piece received, in order, trustworthy while every piece so far came whole
    // and was written without error (a part cut short or a failed write must be found by
    // reading the file back); lets the caller check the rebuilt file without reading it again.
    bool piecesWhole() const { return piecesWhole_; }
    const std::vector<std::uint32_t>& pieceCrcs() const { return pieceCrcs_; }

private:
    enum class Layout { Undecided, Multipart, Stream };

    void chooseLayout();
    bool onMultipart();
    bool onStream(const char* data, std::size_t size);
    void writeToTarget(const char* data, std::uint32_t size);
    void finishPiece();

    std::string boundary_;  // "--" + the boundary parameter of the current answer
    std::string buffer_;    // body bytes not yet consumed (multipart only)
    bool inPart_ = false;
    bool singleRange_ = false;
    std::deque<Piece> pending_;
    std::uint32_t partWritten_ = 0;
    std::uint32_t written_ = 0;
    std::uint32_t toWrite_ = 0;
    std::ostream& target_;
    ProgressCallback progress_;
    std::string path_;

    // What the current answer's headers said.
    int status_ = 0;  // 0 until a status line arrives
    bool multipartType_ = false;
    bool hasContentRange_ = false;
    std::uint64_t contentRangeFirst_ = 0;
    Layout layout_ = Layout::Undecided;
    std::uint64_t streamOffset_ = 0;  // file offset of the next stream byte

    std::uint32_t partCrc_ = 0;  // CRC-32 of the current piece's bytes written so far
    std::vector<std::uint32_t> pieceCrcs_;
    bool piecesWhole_ = true;
    bool endedEarly_ = false;
};

}  // namespace veldmoor
