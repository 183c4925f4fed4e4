#include "sync/multipart_parser.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "system/path.h"

namespace veldmoor {
namespace {

constexpr std::string_view kPartHeaderEnd = "\r\n\r\n";
// A body is not looked at until it holds more than this: the shortest delimiter line plus a
// part header's end.
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

}  // namespace

bool parseHeaderNumber(std::string_view text, std::uint64_t& number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

bool headerValue(std::string_view line, std::string_view name, std::string_view& value) {
    if (line.size() <= name.size() || line[name.size()] != ':' || !StartsWithNoCase(line, name)) {
        return false;
    }
    value = trimmed(line.substr(name.size() + 1));
    return true;
}

bool parseContentRange(std::string_view value, std::uint64_t& first, std::uint64_t& end) {
    if (!StartsWithNoCase(value, "bytes ")) {
        return false;
    }
    const std::string_view range = trimmed(value.substr(6));
    const auto dash = range.find('-');
    const auto slash = range.find('/');
    std::uint64_t last = 0;
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash ||
        !parseHeaderNumber(range.substr(0, dash), first) ||
        !parseHeaderNumber(range.substr(dash + 1, slash - dash - 1), last) || last < first) {
        return false;
    }
    end = last + 1;
    return true;
}

void MultipartParser::begin(std::string_view delimiter, std::span<const HttpRange> asked) {
    delimiter_ = delimiter;
    asked_ = asked;
    held_.clear();
    inPart_ = false;
    closed_ = false;
    at_ = 0;
    end_ = 0;
    partsSeen_ = 0;
}

bool MultipartParser::feed(std::string_view block, StretchSink& out) {
    if (closed_) {
        return true;  // the epilogue after the closing delimiter
    }
    held_.append(block);
    parse(out);
    return held_.size() <= kMaxHeldBytes;
}

void MultipartParser::finish(StretchSink& out) {
    if (!inPart_ || closed_) {
        return;
    }
    // The longest end of the bytes held that a delimiter, with or without the line end before
    // it, could begin with stays unplaced; nothing after it came.
    const std::string lineDelimiter = "\r\n" + delimiter_;
    std::size_t keep = 0;
    for (std::size_t k = std::min(held_.size(), lineDelimiter.size()); k > 0; --k) {
        const std::string_view tail = std::string_view(held_).substr(held_.size() - k);
        if (lineDelimiter.starts_with(tail) || delimiter_.starts_with(tail)) {
            keep = k;
            break;
        }
    }
    givePartData(held_.size() - keep, out);
    held_.clear();
    inPart_ = false;
    closed_ = true;
}

void MultipartParser::beginPart(std::string_view partHeader) {
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

void MultipartParser::parse(StretchSink& out) {
    while (!held_.empty()) {
        if (!inPart_) {
            const auto delimiterLine = held_.find(delimiter_);
            if (held_.size() <= kMinPartStart || delimiterLine == std::string::npos) {
                return;
            }
            const auto afterDelimiter = delimiterLine + delimiter_.size();
            if (held_.size() < afterDelimiter + 2) {
                return;
            }
            if (held_.compare(afterDelimiter, 2, "--") == 0) {
                closed_ = true;  // the closing delimiter: no part follows
                held_.clear();
                return;
            }
            const auto headerEnd = held_.find(kPartHeaderEnd, afterDelimiter);
            if (headerEnd == std::string::npos) {
                return;
            }
            beginPart(
                std::string_view(held_).substr(afterDelimiter, headerEnd + 2 - afterDelimiter));
            inPart_ = true;
            held_.erase(0, headerEnd + kPartHeaderEnd.size());
        }
        const auto delimiter = held_.find(delimiter_);
        if (delimiter != std::string::npos) {
            // The CR LF before the delimiter belongs to the delimiter, not to the part's data.
            const std::size_t dataEnd =
                delimiter >= 2 && held_.compare(delimiter - 2, 2, "\r\n") == 0 ? delimiter - 2
                                                                               : delimiter;
            givePartData(dataEnd, out);
            held_.erase(0, delimiter);
            inPart_ = false;
            continue;
        }
        // The end of the bytes held may be the start of a delimiter ("\r\n" + boundary): it
        // waits for the next block, so the file comes out the same however the body is split.
        const std::size_t keep = std::min(held_.size(), delimiter_.size() + 1);
        const std::size_t ready = held_.size() - keep;
        givePartData(ready, out);
        held_.erase(0, ready);
        return;
    }
}

void MultipartParser::givePartData(std::size_t size, StretchSink& out) {
    const std::uint64_t left = end_ > at_ ? end_ - at_ : 0;
    const auto inRange = static_cast<std::size_t>(std::min<std::uint64_t>(size, left));
    if (inRange > 0) {
        out.take(at_, std::string_view(held_.data(), inRange));
    }
    at_ += size;
}

}  // namespace veldmoor
