// The body of a multipart/byteranges answer, read as it arrives: bytes in, stretches of the
// file (offset, bytes) out. It knows nothing of files, pieces or the network, so it is tested
// and fuzzed on its own; the RangeReceiver feeds it and hands what comes out to a PieceSink.
//
// A preamble before the first delimiter is skipped, and the epilogue after the closing one.
// Each part is placed by its own Content-Range; a part without one is the range asked in its
// position, and a part past the ranges asked is skipped. A part's data never reaches past its
// Content-Range: what follows it can only be the line end before the next delimiter.
//
// Blocks may be split anywhere: the end of the bytes held that could begin a delimiter waits
// for the next block, so the stretches cover the same bytes however the body is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sync/http.h"

namespace veldmoor {

// Takes the stretches of the file a body brings. `bytes` is valid during the call only.
class StretchSink {
public:
    virtual void take(std::uint64_t offset, std::string_view bytes) = 0;

protected:
    ~StretchSink() = default;
};

class MultipartParser {
public:
    // Bytes held while waiting for a delimiter or a part header before the body counts as
    // one that cannot be placed. A part header is a few hundred bytes; libcurl hands over at
    // most 16 KiB at a time.
    static constexpr std::size_t kMaxHeldBytes = 64 * 1024;

    // Starts a body. `delimiter`: "--" followed by the boundary parameter. `asked`: the ranges
    // the request asked for, in its order; not copied, it must stay while the body is read.
    void begin(std::string_view delimiter, std::span<const HttpRange> asked);
    // The next block of the body. False when more than kMaxHeldBytes wait for a delimiter or a
    // part header: the body cannot be placed, and nothing more is taken.
    bool feed(std::string_view block, StretchSink& out);
    // The body has ended, whole or cut short: the bytes held back as a possible delimiter start
    // are given out, as far as no delimiter can begin in them. A body cut off inside its closing
    // delimiter has then given every byte of its parts.
    void finish(StretchSink& out);

    // Parts begun so far.
    std::size_t partsSeen() const { return partsSeen_; }

private:
    void parse(StretchSink& out);
    void beginPart(std::string_view partHeader);
    // Gives out the first `size` bytes held as the current part's data.
    void givePartData(std::size_t size, StretchSink& out);

    std::string delimiter_;
    std::span<const HttpRange> asked_;
    std::string held_;  // body bytes not yet given out or skipped
    bool inPart_ = false;
    bool closed_ = false;    // the closing delimiter has come; the rest is epilogue
    std::uint64_t at_ = 0;   // file offset of the current part's next byte
    std::uint64_t end_ = 0;  // one past the current part's last byte
    std::size_t partsSeen_ = 0;
};

// Header fields, as both an answer's headers and a part's header carry them.

// A decimal number that is all of `text`.
bool parseHeaderNumber(std::string_view text, std::uint64_t& number);

// "bytes FIRST-LAST/LENGTH" (LENGTH may be "*"): `end` is one past LAST. False when `value`
// is not of that form.
bool parseContentRange(std::string_view value, std::uint64_t& first, std::uint64_t& end);

// The value of the header `name` ("Content-Range"), trimmed, when `line` is that header.
bool headerValue(std::string_view line, std::string_view name, std::string_view& value);

}  // namespace veldmoor
