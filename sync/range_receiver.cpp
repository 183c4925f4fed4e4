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

}  // namespace

RangeReceiver::RangeReceiver(std::ostream& target, std::vector<Piece> pending,
                             ProgressCallback progress, std::string path)
    : pending_(pending.begin(), pending.end()),
      target_(target),
      progress_(std::move(progress)),
      path_(std::move(path)) {
    for (const Piece& piece : pending_) {
        toWrite_ += piece.length;
    }
}

void RangeReceiver::beginResponse(bool singleRange) {
    inPart_ = false;
    singleRange_ = singleRange;
    boundary_.clear();
    buffer_.clear();
    partWritten_ = 0;
    partCrc_ = 0;
    endedEarly_ = false;
    status_ = 0;
    multipartType_ = false;
    hasContentRange_ = false;
    contentRangeFirst_ = 0;
    layout_ = Layout::Undecided;
    streamOffset_ = 0;
}

void RangeReceiver::onHeaderLine(std::string_view line) {
    if (line.starts_with("HTTP/")) {
        // A new answer begins (an interim 1xx answer may come first): forget the last one's
        // headers.
        const auto space = line.find(' ');
        std::uint64_t status = 0;
        status_ = space != std::string_view::npos && parseNumber(line.substr(space + 1, 3), status)
                      ? static_cast<int>(status)
                      : -1;
        multipartType_ = false;
        hasContentRange_ = false;
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
    } else if (headerValue(line, "Content-Range", value) && StartsWithNoCase(value, "bytes ")) {
        const std::string_view range = trimmed(value.substr(6));
        const auto dash = range.find('-');
        hasContentRange_ = dash != std::string_view::npos &&
                           parseNumber(range.substr(0, dash), contentRangeFirst_);
    }
}

void RangeReceiver::chooseLayout() {
    streamOffset_ = 0;
    layout_ = Layout::Stream;
    if (status_ == 200) {
        return;  // the server ignored the Range header: the body is the whole file
    }
    if (multipartType_ || !boundary_.empty() || (!hasContentRange_ && !singleRange_)) {
        layout_ = Layout::Multipart;
    } else if (hasContentRange_) {
        streamOffset_ = contentRangeFirst_;
    } else {
        streamOffset_ = pending_.empty() ? 0 : pending_.front().targetOffset;
    }
}

bool RangeReceiver::onBody(const char* data, std::size_t size) {
    if (layout_ == Layout::Undecided) {
        // Any status but these carries something other than the file's bytes (an error page).
        if (status_ != 0 && status_ != 200 && status_ != 206) {
            return false;
        }
        chooseLayout();
        target_.clear();
    }
    if (layout_ == Layout::Stream) {
        return onStream(data, size);
    }
    if (boundary_.empty()) {
        return false;  // headers come before the body: without a boundary no part can be found
    }
    buffer_.append(data, size);
    return onMultipart() && buffer_.size() <= kMaxHeldBytes;
}

bool RangeReceiver::onMultipart() {
    while (!buffer_.empty()) {
        if (!inPart_) {
            const auto delimiterLine = buffer_.find(boundary_);
            if (buffer_.size() <= kMinPartStart || delimiterLine == std::string::npos) {
                return true;
            }
            const auto headerEnd = buffer_.find(kPartHeaderEnd, delimiterLine);
            if (headerEnd == std::string::npos) {
                return true;
            }
            if (pending_.empty()) {
                return false;  // more parts than requested ranges
            }
            inPart_ = true;
            partWritten_ = 0;
            partCrc_ = 0;
            buffer_.erase(0, headerEnd + kPartHeaderEnd.size());
            target_.clear();
            target_.seekp(pending_.front().targetOffset);
        }
        const std::uint32_t length = pending_.front().length;
        const auto delimiter = buffer_.find(boundary_);
        if (delimiter != std::string::npos) {
            if (partWritten_ < length) {
                // The CR LF before the delimiter belongs to the delimiter, not to the data of a
                // part that came shorter than asked.
                const std::size_t dataEnd =
                    delimiter >= 2 && buffer_.compare(delimiter - 2, 2, "\r\n") == 0 ? delimiter - 2
                                                                                     : delimiter;
                const auto k = static_cast<std::uint32_t>(
                    std::min<std::size_t>(length - partWritten_, dataEnd));
                writeToTarget(buffer_.data(), k);
            }
            // Whatever the part had beyond its length (the CR LF before the delimiter) goes.
            buffer_.erase(0, delimiter);
            inPart_ = false;
            finishPiece();
            continue;
        }
        // The buffer's end may be the start of a delimiter ("\r\n" + boundary): it waits for
        // the next block, so the file comes out the same however the body is split.
        const std::size_t held = std::min(buffer_.size(), boundary_.size() + 1);
        if (partWritten_ < length && buffer_.size() > held) {
            const auto k = static_cast<std::uint32_t>(
                std::min<std::size_t>(length - partWritten_, buffer_.size() - held));
            writeToTarget(buffer_.data(), k);
            buffer_.erase(0, k);
        }
        return true;
    }
    return true;
}

bool RangeReceiver::onStream(const char* data, std::size_t size) {
    while (size > 0 && !pending_.empty()) {
        const Piece& piece = pending_.front();
        const std::uint64_t wanted = std::uint64_t{piece.targetOffset} + partWritten_;
        if (streamOffset_ > wanted) {
            return false;  // the answer starts past bytes still missing
        }
        if (streamOffset_ < wanted) {
            const auto skip =
                static_cast<std::size_t>(std::min<std::uint64_t>(wanted - streamOffset_, size));
            data += skip;
            size -= skip;
            streamOffset_ += skip;
            continue;
        }
        const auto k =
            static_cast<std::uint32_t>(std::min<std::size_t>(piece.length - partWritten_, size));
        target_.seekp(static_cast<std::streamoff>(wanted));
        writeToTarget(data, k);
        data += k;
        size -= k;
        streamOffset_ += k;
        if (partWritten_ == pending_.front().length) {
            finishPiece();
        }
    }
    streamOffset_ += size;  // bytes after the last piece are skipped
    if (pending_.empty() && status_ == 200) {
        // The rest of a whole-file answer holds nothing wanted: stop receiving it.
        endedEarly_ = true;
        return false;
    }
    return true;
}

void RangeReceiver::finishPiece() {
    if (partWritten_ == pending_.front().length) {
        pieceCrcs_.push_back(partCrc_);
    } else {
        piecesWhole_ = false;
    }
    pending_.pop_front();
    partWritten_ = 0;
    partCrc_ = 0;
}

void RangeReceiver::writeToTarget(const char* data, std::uint32_t size) {
    target_.write(data, size);
    if (target_.fail()) {
        piecesWhole_ = false;  // the error state is cleared at the next part; remember it here
    }
    partCrc_ = static_cast<std::uint32_t>(
        crc32(partCrc_, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
    partWritten_ += size;
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
