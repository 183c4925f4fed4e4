// The answers to a file's range requests, handed to the receiver whole, one byte at a time and
// in splits drawn from the input: the outcome must not depend on where the blocks were cut.
// The body is also given to the multipart parser alone, with the boundary the headers name:
// the stretches it gives out must not depend on the blocks either.
//
// Input: byte 0 flags (bit 0: the request asked for the first piece alone), byte 1 the number of
// pending pieces (up to 8), then per piece two bytes offset step and two bytes length
// (little-endian), then the response headers up to an empty line (CR LF line ends), then the body.
#include <cstddef>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sync/multipart_parser.h"
#include "sync/range_receiver.h"

using namespace veldmoor;

namespace {

struct Outcome {
    bool accepted = true;
    bool endedEarly = false;
    std::string file;
    bool complete = false;
    std::uint32_t written = 0;
    bool piecesWhole = false;
    std::vector<std::uint32_t> pieceCrcs;
};

struct Input {
    bool singleRange = false;
    std::vector<Piece> pieces;
    std::uint32_t fileSize = 0;
    std::vector<std::string_view> headers;
    std::string_view body;
};

bool Decode(std::string_view in, Input& out) {
    if (in.size() < 2)
        return false;
    out.singleRange = (in[0] & 1) != 0;
    const std::size_t count = static_cast<unsigned char>(in[1]) % 9;
    in.remove_prefix(2);
    if (in.size() < count * 4)
        return false;
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(in[at])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + 1])) << 8);
    };
    std::uint32_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Piece piece;
        piece.targetOffset = at + u16(i * 4) % 512;
        piece.length = 1 + u16(i * 4 + 2) % 512;
        piece.kind = kPieceDownload;
        at = piece.targetOffset + piece.length;
        out.pieces.push_back(piece);
    }
    out.fileSize = at + 16;
    in.remove_prefix(count * 4);
    const std::size_t headerEnd = in.find("\r\n\r\n");
    if (headerEnd == std::string_view::npos)
        return false;
    std::string_view headers = in.substr(0, headerEnd + 2);
    while (!headers.empty()) {
        const std::size_t end = headers.find("\r\n");
        out.headers.push_back(headers.substr(0, end + 2));
        headers.remove_prefix(end + 2);
    }
    out.body = in.substr(headerEnd + 4);
    return true;
}

template <typename NextBlock>
Outcome Receive(const Input& input, NextBlock nextBlock) {
    Outcome outcome;
    std::stringstream target(std::string(input.fileSize, '.'),
                             std::ios::in | std::ios::out | std::ios::binary);
    RangeReceiver receiver(target, input.pieces, nullptr, "data/file");
    std::vector<HttpRange> asked = receiver.missingRanges();
    if (input.singleRange && asked.size() > 1)
        asked.resize(1);
    receiver.beginResponse(asked);
    for (const std::string_view line : input.headers)
        receiver.onHeaderLine(line);
    receiver.onHeaderLine("\r\n");
    std::size_t at = 0;
    while (at < input.body.size()) {
        const std::size_t block = std::min(nextBlock(), input.body.size() - at);
        if (!receiver.onBody(input.body.data() + at, block)) {
            outcome.accepted = false;
            break;
        }
        at += block;
    }
    // The answer ends here, whole or cut short (a closing delimiter cut off).
    receiver.endBody();
    outcome.endedEarly = receiver.endedEarly();
    outcome.file = target.str();
    outcome.complete = receiver.complete();
    outcome.written = receiver.written();
    outcome.piecesWhole = receiver.piecesWhole();
    outcome.pieceCrcs = receiver.pieceCrcs();
    FUZZ_CHECK(outcome.file.size() == input.fileSize);
    FUZZ_CHECK(outcome.written <= receiver.toWrite());
    return outcome;
}

// The parser's stretches, adjacent ones joined: (file offset, bytes).
class Stretches final : public StretchSink {
public:
    void take(std::uint64_t offset, std::string_view bytes) override {
        FUZZ_CHECK(!bytes.empty());
        if (!joined.empty() && joined.back().first + joined.back().second.size() == offset) {
            joined.back().second += bytes;
        } else {
            joined.emplace_back(offset, std::string(bytes));
        }
    }
    std::vector<std::pair<std::uint64_t, std::string>> joined;
};

struct Parsed {
    bool accepted = true;
    Stretches stretches;
};

template <typename NextBlock>
Parsed Parse(const Input& input, std::string_view delimiter, const std::vector<HttpRange>& asked,
             NextBlock nextBlock) {
    Parsed parsed;
    MultipartParser parser;
    parser.begin(delimiter, asked);
    std::uint64_t given = 0;
    for (std::size_t at = 0; at < input.body.size() && parsed.accepted;) {
        const std::size_t block = std::min(nextBlock(), input.body.size() - at);
        parsed.accepted = parser.feed(input.body.substr(at, block), parsed.stretches);
        at += block;
    }
    if (parsed.accepted) {
        parser.finish(parsed.stretches);
    }
    for (const auto& stretch : parsed.stretches.joined)
        given += stretch.second.size();
    // Nothing is given out that the body did not carry.
    FUZZ_CHECK(given <= input.body.size());
    return parsed;
}

void FuzzParser(const Input& input, const std::uint8_t* data, std::size_t size) {
    std::stringstream unused;
    RangeReceiver headers(unused, input.pieces, nullptr, "data/file");
    for (const std::string_view line : input.headers)
        headers.onHeaderLine(line);
    if (headers.boundary().empty())
        return;
    std::vector<HttpRange> asked = headers.missingRanges();
    if (input.singleRange && asked.size() > 1)
        asked.resize(1);
    const Parsed whole =
        Parse(input, headers.boundary(), asked, [] { return std::size_t{1} << 30; });
    const Parsed bytes = Parse(input, headers.boundary(), asked, [] { return std::size_t{1}; });
    std::minstd_rand random(static_cast<std::uint32_t>(size) * 40503u + data[0]);
    const Parsed split =
        Parse(input, headers.boundary(), asked, [&] { return std::size_t{1} + random() % 97; });
    for (const Parsed* other : {&bytes, &split}) {
        FUZZ_CHECK(other->accepted == whole.accepted);
        if (whole.accepted)
            FUZZ_CHECK(other->stretches.joined == whole.stretches.joined);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input;
    if (!Decode(std::string_view(reinterpret_cast<const char*>(data), size), input))
        return 0;
    const Outcome whole = Receive(input, [] { return std::size_t{1} << 30; });
    const Outcome bytes = Receive(input, [] { return std::size_t{1}; });
    std::minstd_rand random(static_cast<std::uint32_t>(size) * 2654435761u + data[0]);
    const Outcome split = Receive(input, [&] { return std::size_t{1} + random() % 97; });

    for (const Outcome* other : {&bytes, &split}) {
        // Where a refused answer stops may depend on the blocks; that it is refused may not.
        FUZZ_CHECK(other->accepted == whole.accepted);
        FUZZ_CHECK(other->endedEarly == whole.endedEarly);
        if (!whole.accepted && !whole.endedEarly)
            continue;
        FUZZ_CHECK(other->file == whole.file);
        FUZZ_CHECK(other->complete == whole.complete);
        FUZZ_CHECK(other->written == whole.written);
        FUZZ_CHECK(other->piecesWhole == whole.piecesWhole);
        FUZZ_CHECK(other->pieceCrcs == whole.pieceCrcs);
    }
    FuzzParser(input, data, size);
    // Bytes outside every piece are never touched.
    if (whole.accepted || whole.endedEarly) {
        std::uint32_t at = 0;
        for (const Piece& piece : input.pieces) {
            for (; at < piece.targetOffset; ++at)
                FUZZ_CHECK(whole.file[at] == '.');
            at = piece.targetOffset + piece.length;
        }
        for (; at < input.fileSize; ++at)
            FUZZ_CHECK(whole.file[at] == '.');
    }
    return 0;
}
