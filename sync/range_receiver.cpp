#include "sync/range_receiver.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

#include "system/path.h"

namespace veldmoor {
namespace {

constexpr std::string_view kBoundaryParameter = "; boundary=";
constexpr std::string_view kPartHeaderEnd = "\r\n\r\n";
// A multipart answer is not looked at until it holds more than this: the shortest delimiter
// line plus a part header's end.
constexpr std::size_t kMinPartStart = 20;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())) != 0) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.remove_suffix(1);
    }
    return text;
}

// Value of the header `name` ("Content-Range") when `line` is that header.
bool headerValue(std::string_view line, std::string_view name, std::string_view& value) {
    if (line.size() <= name.size() || line[name.size()] != ':' || !StartsWithNoCase(line, name)) {
        return false;
    }
    value = trimmed(line.substr(name.size() + 1));
    return true;
}

bool parseNumber(std::string_view text, std::uint64_t& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

// "bytes FIRST-LAST/LENGTH" (LENGTH may be "*"): `end` is one past LAST.
bool parseContentRange(std::string_view value, std::uint64_t& first, std::uint64_t& end) {
    if (!StartsWithNoCase(value, "bytes ")) {
        return false;
    }
    const std::string_view range = trimmed(value.substr(6));
    const auto dash = range.find('-');
    const auto slash = range.find('/');
    std::uint64_t last = 0;
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash ||
        !parseNumber(range.substr(0, dash), first) ||
        !parseNumber(range.substr(dash + 1, slash - dash - 1), last) || last < first) {
        return false;
    }
    end = last + 1;
    return true;
}

}  // namespace

RangeReceiver::RangeReceiver(std::ostream& target, std::vector<Piece> pending,
                             ProgressCallback progress, std::string path)
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

std::vector<HttpRange> RangeReceiver::missingRanges() const {
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

std::vector<Piece> RangeReceiver::receivedPieces() const {
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

std::vector<Piece> RangeReceiver::handOffAfter(std::size_t keepMissing) {
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

std::vector<std::uint32_t> RangeReceiver::pieceCrcs() const {
    return complete() ? crcs_ : std::vector<std::uint32_t>{};
}

void RangeReceiver::beginResponse(std::vector<HttpRange> asked) {
    asked_ = std::move(asked);
    askedBytes_ = 0;
    for (const HttpRange& range : asked_) {
        askedBytes_ += std::uint64_t{range.last} - range.first + 1;
    }
    status_ = 0;
    multipartType_ = false;
    hasContentRange_ = false;
    hasContentLength_ = false;
    boundary_.clear();
    layout_ = Layout::Undecided;
    buffer_.clear();
    inPart_ = false;
    closed_ = false;
    at_ = 0;
    end_ = 0;
    partsSeen_ = 0;
    refusal_ = Refusal::None;
    endedEarly_ = false;
}

void RangeReceiver::onHeaderLine(std::string_view line) {
    if (line.starts_with("HTTP/")) {
        // A new answer begins (an interim 1xx answer or a redirect may come first): forget the
        // last one's headers.
        const auto space = line.find(' ');
        std::uint64_t status = 0;
        status_ = space != std::string_view::npos && parseNumber(line.substr(space + 1, 3), status)
                      ? static_cast<int>(status)
                      : -1;
        multipartType_ = false;
        hasContentRange_ = false;
        hasContentLength_ = false;
        boundary_.clear();
        return;
    }
    if (const auto at = line.find(kBoundaryParameter); at != std::string_view::npos) {
        std::string boundary = "--";
        for (const char c : line.substr(at + kBoundaryParameter.size())) {
            if (std::isspace(static_cast<unsigned char>(c)) == 0) {
                boundary.push_back(c);
            }
        }
        // The parameter may be quoted; the delimiter in the body never is.
        if (boundary.size() >= 4 && boundary[2] == '"' && boundary.back() == '"') {
            boundary = "--" + boundary.substr(3, boundary.size() - 4);
        }
        boundary_ = std::move(boundary);
    }
    std::string_view value;
    if (headerValue(line, "Content-Type", value)) {
        multipartType_ = StartsWithNoCase(value, "multipart/");
    } else if (headerValue(line, "Content-Range", value)) {
        hasContentRange_ = parseContentRange(value, contentRangeFirst_, contentRangeEnd_);
    } else if (headerValue(line, "Content-Length", value)) {
        hasContentLength_ = parseNumber(value, contentLength_);
    }
}

bool RangeReceiver::chooseLayout() {
    layout_ = Layout::Stream;
    at_ = 0;
    end_ = UINT64_MAX;
    if (status_ == 200) {
        // The server ignored the Range header: the body is the whole file. For a single range
        // there is nothing better to ask for; for several, a large file is not read whole.
        if (asked_.size() > 1 && hasContentLength_ && contentLength_ > kLargeWholeAnswer &&
            contentLength_ > 2 * askedBytes_) {
            refusal_ = Refusal::LargeWholeFile;
            return false;
        }
        return true;
    }
    if (multipartType_ || !boundary_.empty() || (!hasContentRange_ && asked_.size() != 1)) {
        layout_ = Layout::Multipart;
        if (boundary_.empty()) {
            // Headers come before the body: without a boundary no part can be found.
            refusal_ = Refusal::UnplaceableBody;
            return false;
        }
    } else if (hasContentRange_) {
        at_ = contentRangeFirst_;
        end_ = contentRangeEnd_;
    } else {
        at_ = asked_.front().first;
        end_ = std::uint64_t{asked_.front().last} + 1;
    }
    return true;
}

bool RangeReceiver::onBody(const char* data, std::size_t size) {
    if (layout_ == Layout::Undecided) {
        // Any status but these carries something other than the file's bytes (an error page).
        if (status_ != 0 && status_ != 200 && status_ != 206) {
            refusal_ = Refusal::ErrorStatus;
            return false;
        }
        if (!chooseLayout()) {
            return false;
        }
    }
    if (layout_ == Layout::Stream) {
        place(data, size);
        if (complete() && status_ == 200) {
            // The rest of a whole-file answer holds nothing wanted: stop receiving it.
            endedEarly_ = true;
            return false;
        }
        return true;
    }
    if (closed_) {
        return true;  // the epilogue after the closing delimiter
    }
    buffer_.append(data, size);
    onMultipart();
    if (buffer_.size() > kMaxHeldBytes) {
        refusal_ = Refusal::UnplaceableBody;
        return false;
    }
    return true;
}

void RangeReceiver::endBody() {
    if (layout_ != Layout::Multipart || !inPart_ || closed_ || refusal_ != Refusal::None) {
        return;
    }
    // The longest end of the buffer that a delimiter, with or without the line end before
    // it, could begin with stays unplaced; nothing after it came.
    const std::string lineDelimiter = "\r\n" + boundary_;
    std::size_t held = 0;
    for (std::size_t k = std::min(buffer_.size(), lineDelimiter.size()); k > 0; --k) {
        const std::string_view tail = std::string_view(buffer_).substr(buffer_.size() - k);
        if (lineDelimiter.starts_with(tail) || boundary_.starts_with(tail)) {
            held = k;
            break;
        }
    }
    placePartData(buffer_.size() - held);
    buffer_.clear();
    inPart_ = false;
    closed_ = true;
}

void RangeReceiver::beginPart(std::string_view partHeader) {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    bool ranged = false;
    while (!partHeader.empty()) {
        const auto lineEnd = std::min(partHeader.find("\r\n"), partHeader.size());
        std::string_view value;
        if (headerValue(partHeader.substr(0, lineEnd), "Content-Range", value)) {
            ranged = parseContentRange(value, first, end);
        }
        partHeader.remove_prefix(std::min(lineEnd + 2, partHeader.size()));
    }
    if (!ranged) {
        // Without its own Content-Range a part can only be the range asked in its position.
        if (partsSeen_ >= asked_.size()) {
            first = end = 0;  // nothing asked is left for it: its bytes are skipped
        } else {
            first = asked_[partsSeen_].first;
            end = std::uint64_t{asked_[partsSeen_].last} + 1;
        }
    }
    ++partsSeen_;
    at_ = first;
    end_ = end;
}

void RangeReceiver::onMultipart() {
    while (!buffer_.empty()) {
        if (!inPart_) {
            const auto delimiterLine = buffer_.find(boundary_);
            if (buffer_.size() <= kMinPartStart || delimiterLine == std::string::npos) {
                return;
            }
            const auto afterDelimiter = delimiterLine + boundary_.size();
            if (buffer_.size() < afterDelimiter + 2) {
                return;
            }
            if (buffer_.compare(afterDelimiter, 2, "--") == 0) {
                closed_ = true;  // the closing delimiter: no part follows
                buffer_.clear();
                return;
            }
            const auto headerEnd = buffer_.find(kPartHeaderEnd, afterDelimiter);
            if (headerEnd == std::string::npos) {
                return;
            }
            beginPart(
                std::string_view(buffer_).substr(afterDelimiter, headerEnd + 2 - afterDelimiter));
            inPart_ = true;
            buffer_.erase(0, headerEnd + kPartHeaderEnd.size());
        }
        const auto delimiter = buffer_.find(boundary_);
        if (delimiter != std::string::npos) {
            // The CR LF before the delimiter belongs to the delimiter, not to the part's data.
            const std::size_t dataEnd =
                delimiter >= 2 && buffer_.compare(delimiter - 2, 2, "\r\n") == 0 ? delimiter - 2
                                                                                 : delimiter;
            placePartData(dataEnd);
            buffer_.erase(0, delimiter);
            inPart_ = false;
            continue;
        }
        // The buffer's end may be the start of a delimiter ("\r\n" + boundary): it waits for
        // the next block, so the file comes out the same however the body is split.
        const std::size_t held = std::min(buffer_.size(), boundary_.size() + 1);
        const std::size_t ready = buffer_.size() - held;
        placePartData(ready);
        buffer_.erase(0, ready);
        return;
    }
}

void RangeReceiver::placePartData(std::size_t size) {
    // A part's data never reaches past its Content-Range: what follows can only be the line
    // end before the delimiter.
    const std::uint64_t left = end_ > at_ ? end_ - at_ : 0;
    place(buffer_.data(), static_cast<std::size_t>(std::min<std::uint64_t>(size, left)));
    at_ += size - std::min<std::uint64_t>(size, left);
}

void RangeReceiver::place(const char* data, std::size_t size) {
    // More than the range said is not trusted, also once the range is full: however the body
    // was cut, bytes past its end never fill a piece.
    const std::uint64_t left = end_ > at_ ? end_ - at_ : 0;
    if (size > left) {
        size = static_cast<std::size_t>(left);
    }
    while (size > 0) {
        // The first piece that ends past the current offset.
        const auto it = std::upper_bound(
            pieces_.begin(), pieces_.end(), at_, [](std::uint64_t at, const Piece& piece) {
                return at < std::uint64_t{piece.targetOffset} + piece.length;
            });
        if (it == pieces_.end()) {
            at_ += size;
            return;
        }
        const auto index = static_cast<std::size_t>(it - pieces_.begin());
        const std::uint64_t pieceEnd = std::uint64_t{it->targetOffset} + it->length;
        const std::uint64_t wanted = std::uint64_t{it->targetOffset} + received_[index];
        std::uint64_t skip = 0;
        if (at_ < wanted) {
            skip = wanted - at_;  // before the piece, or bytes already received
        } else if (at_ > wanted) {
            skip = pieceEnd - at_;  // past a gap in this piece: it is asked for again
        } else {
            const auto k =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(pieceEnd - at_, size));
            writeToTarget(index, data, k);
            data += k;
            size -= k;
            at_ += k;
            continue;
        }
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(skip, size));
        data += n;
        size -= n;
        at_ += n;
    }
}

void RangeReceiver::writeToTarget(std::size_t piece, const char* data, std::uint32_t size) {
    target_.clear();
    target_.seekp(static_cast<std::streamoff>(pieces_[piece].targetOffset + received_[piece]));
    target_.write(data, size);
    if (target_.fail()) {
        piecesWhole_ = false;
    }
    crcs_[piece] = static_cast<std::uint32_t>(
        crc32(crcs_[piece], reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
    received_[piece] += size;
    if (received_[piece] == pieces_[piece].length) {
        --incomplete_;
    }
    written_ += size;
    if (progress_) {
        progress_(path_, written_, toWrite_);
    }
}

std::size_t RangeReceiver::headerCallback(char* data, std::size_t size, std::size_t count,
                                          void* receiver) {
    static_cast<RangeReceiver*>(receiver)->onHeaderLine(std::string_view(data, size * count));
    return size * count;
}

std::size_t RangeReceiver::bodyCallback(char* data, std::size_t size, std::size_t count,
                                        void* receiver) {
    // Returning less than was handed over makes libcurl end the transfer with an error.
    return static_cast<RangeReceiver*>(receiver)->onBody(data, size * count) ? size * count : 0;
}

}  // namespace veldmoor
