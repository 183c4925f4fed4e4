#include "sync/range_receiver.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "system/path.h"

namespace veldmoor {
namespace {

constexpr std::string_view kBoundaryParameter = "; boundary=";

}  // namespace

RangeReceiver::RangeReceiver(std::ostream& target, std::vector<Piece> pending,
                             ProgressCallback progress, std::string path)
    : sink_(target, std::move(pending), std::move(progress), std::move(path)) {}

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
    parser_.begin({}, {});
    at_ = 0;
    end_ = 0;
    refusal_ = Refusal::None;
    endedEarly_ = false;
}

void RangeReceiver::onHeaderLine(std::string_view line) {
    if (line.starts_with("HTTP/")) {
        // A new answer begins (an interim 1xx answer or a redirect may come first): forget the
        // last one's headers.
        const auto space = line.find(' ');
        std::uint64_t status = 0;
        status_ =
            space != std::string_view::npos && parseHeaderNumber(line.substr(space + 1, 3), status)
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
        hasContentLength_ = parseHeaderNumber(value, contentLength_);
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
        parser_.begin(boundary_, asked_);
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
        placeStream(data, size);
        if (sink_.complete() && status_ == 200) {
            // The rest of a whole-file answer holds nothing wanted: stop receiving it.
            endedEarly_ = true;
            return false;
        }
        return true;
    }
    if (!parser_.feed(std::string_view(data, size), sink_)) {
        refusal_ = Refusal::UnplaceableBody;
        return false;
    }
    return true;
}

void RangeReceiver::endBody() {
    if (layout_ == Layout::Multipart && refusal_ == Refusal::None) {
        parser_.finish(sink_);
    }
}

void RangeReceiver::placeStream(const char* data, std::size_t size) {
    // More than the range said is not trusted, also once the range is full: however the body
    // was cut, bytes past its end never fill a piece.
    const std::uint64_t left = end_ > at_ ? end_ - at_ : 0;
    const auto inRange = static_cast<std::size_t>(std::min<std::uint64_t>(size, left));
    if (inRange > 0) {
        sink_.take(at_, std::string_view(data, inRange));
    }
    at_ += inRange;
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
