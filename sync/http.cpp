#include "sync/http_transfer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "sync/range_receiver.h"
#include "system/path.h"

namespace veldmoor {
namespace {

void appendEscaped(std::string& out, const std::string& segment) {
    if (segment.empty()) {
        return;
    }
    char* escaped = curl_easy_escape(nullptr, segment.data(), static_cast<int>(segment.size()));
    if (escaped != nullptr) {
        out += escaped;
        curl_free(escaped);
    }
}

std::string rangeList(const std::vector<HttpRange>& ranges, std::size_t begin, std::size_t end) {
    std::string list;
    for (std::size_t i = begin; i < end; ++i) {
        if (i != begin) {
            list += ',';
        }
        list += std::to_string(ranges[i].first);
        list += '-';
        list += std::to_string(ranges[i].last);
    }
    return list;
}

std::string statusCause(long status) {
    return "the server answered status " + std::to_string(status);
}

long responseStatus(CURL* handle) {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// What a failed transfer's code means to a person, with what to try where there is something.
std::string transferCause(CURL* handle, CURLcode code, const HttpSettings& settings) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL: {
            // Once a redirect is refused, the effective address is where it pointed.
            char* effective = nullptr;
            curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective);
            const std::string target = effective != nullptr ? effective : "";
            if (!StartsWithNoCase(target, "http://") && !StartsWithNoCase(target, "https://")) {
                return (responseStatus(handle) / 100 == 3 ? "the server redirected to '"
                                                          : std::string("the address '")) +
                       target + "', which is not an http or https address; it is never followed";
            }
            return "the server's answer does not read as HTTP; a server or proxy whose previous "
                   "answer on the connection carried more bytes than its Content-Length said "
                   "leaves them where this answer should begin";
        }
        case CURLE_PEER_FAILED_VERIFICATION:
            return std::string("the server's certificate could not be verified (") +
                   curl_easy_strerror(code) +
                   "); if the world signs its own certificates, name its CA file "
                   "(veldmoor-sync --ca-file, or VELDMOOR_CA_FILE for the launcher)";
        case CURLE_SSL_CACERT_BADFILE:
            return "the CA file '" + settings.caFile +
                   "' cannot be read as certificates (PEM); check the path and its content";
        default:
            return curl_easy_strerror(code);
    }
}

// Faults a moment later may not repeat: a connection reset, a body cut short, a time-out. A
// refused connection is not among them: nothing listens there, and the run should say so at
// once.
bool isTransient(CURLcode code) {
    switch (code) {
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_OPERATION_TIMEDOUT:
            return true;
        default:
            return false;
    }
}

long environmentNumber(const char* name, long fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const long number = std::strtol(value, &end, 10);
    return *end == '\0' && number >= 0 ? number : fallback;
}

}  // namespace

bool parseByteRate(const std::string& text, std::int64_t& bytesPerSecond) {
    if (text.empty() || std::isdigit(static_cast<unsigned char>(text.front())) == 0) {
        return false;
    }
    std::size_t digits = 0;
    std::int64_t number = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) != 0) {
        if (number > (INT64_MAX / 10) - 10) {
            return false;
        }
        number = number * 10 + (text[digits] - '0');
        ++digits;
    }
    const std::string suffix = text.substr(digits);
    std::int64_t factor = 1;
    if (suffix == "k" || suffix == "K") {
        factor = 1024;
    } else if (suffix == "m" || suffix == "M") {
        factor = 1024 * 1024;
    } else if (!suffix.empty()) {
        return false;
    }
    if (number > INT64_MAX / factor) {
        return false;
    }
    bytesPerSecond = number * factor;
    return true;
}

HttpSettings HttpSettings::fromEnvironment() {
    HttpSettings settings;
    if (const char* rate = std::getenv("VELDMOOR_LIMIT_RATE"); rate != nullptr) {
        std::int64_t bytes = 0;
        if (parseByteRate(rate, bytes)) {
            settings.maxReceiveBytesPerSecond = bytes;
        }
    }
    settings.connectTimeoutSeconds =
        environmentNumber("VELDMOOR_CONNECT_TIMEOUT", settings.connectTimeoutSeconds);
    settings.stallSeconds = environmentNumber("VELDMOOR_STALL_SECONDS", settings.stallSeconds);
    settings.progressSeconds =
        environmentNumber("VELDMOOR_PROGRESS_SECONDS", settings.progressSeconds);
    settings.firstRetryPauseMs =
        environmentNumber("VELDMOOR_RETRY_PAUSE_MS", settings.firstRetryPauseMs);
    settings.connections = static_cast<std::size_t>(std::max(
        1L, environmentNumber("VELDMOOR_CONNECTIONS", static_cast<long>(settings.connections))));
    settings.http1Connections = static_cast<std::size_t>(
        std::max(1L, environmentNumber("VELDMOOR_HTTP1_CONNECTIONS",
                                       static_cast<long>(settings.http1Connections))));
    if (const char* caFile = std::getenv("VELDMOOR_CA_FILE"); caFile != nullptr) {
        settings.caFile = caFile;
    }
    return settings;
}

void configureHandle(CURL* handle, HttpSession& session) {
    const HttpSettings& settings = session.settings;
    curl_easy_setopt(handle, CURLOPT_PRIVATE, &session);
    // The engine runs on the launcher's worker thread: no signals from libcurl (its resolver
    // time-out would use alarm), and no swap of the SIGPIPE handler around every call, which
    // a run of thousands of requests pays tens of thousands of times. Its sends ask the system
    // not to raise SIGPIPE.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, settings.connectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, settings.stallSeconds);
    curl_easy_setopt(handle, CURLOPT_MAX_RECV_SPEED_LARGE,
                     static_cast<curl_off_t>(settings.maxReceiveBytesPerSecond));
    // A world may move its files to a mirror; it may not send the engine to a local file.
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    if (!settings.caFile.empty()) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, settings.caFile.c_str());
    }
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
}

std::string escapeUrl(const std::string& url) {
    const auto schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return url;
    }
    std::string slashed = url;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');

    // The authority ends at the first '/' after the scheme; it is never encoded, or a port's
    // colon or an IPv6 literal's brackets would make the address unreachable.
    const auto authorityStart = schemeEnd + 3;
    const auto pathStart = std::min(slashed.find('/', authorityStart), slashed.size());
    std::string escaped = slashed.substr(0, pathStart);
    std::size_t segmentStart = pathStart;
    while (segmentStart < slashed.size()) {
        ++segmentStart;  // past the '/'
        escaped += '/';
        const auto segmentEnd = std::min(slashed.find('/', segmentStart), slashed.size());
        appendEscaped(escaped, slashed.substr(segmentStart, segmentEnd - segmentStart));
        segmentStart = segmentEnd;
    }
    return escaped;
}

long RetryBudget::nextPause(CURLcode code) {
    if (left_ <= 0 || (code == CURLE_OPERATION_TIMEDOUT && timedOut_)) {
        return -1;
    }
    const long pause = session_.settings.firstRetryPauseMs << done_;
    if (started_ && Clock::now() + std::chrono::milliseconds(pause) >
                        lastProgress_ + std::chrono::seconds(session_.settings.progressSeconds)) {
        return -1;
    }
    timedOut_ = timedOut_ || code == CURLE_OPERATION_TIMEDOUT;
    --left_;
    ++done_;
    if (session_.settings.onRetry) {
        session_.settings.onRetry(RetryNotice{done_, pause});
    }
    return pause;
}

void RetryBudget::start() {
    if (!started_) {
        // The clock starts with the first request, not while the sequence waits for a handle.
        started_ = true;
        lastProgress_ = Clock::now();
    }
}

bool RetryBudget::countRequestWithoutProgress() {
    return ++requestsWithoutProgress_ < kMaxRequestsWithoutProgress;
}

bool RetryBudget::advanced(std::uint64_t bytes, std::size_t pieces) {
    if (bytes < progressBytes_ + kProgressBytes && pieces <= progressPieces_) {
        return false;
    }
    progressBytes_ = bytes;
    progressPieces_ = pieces;
    lastProgress_ = Clock::now();
    return true;
}

void RetryBudget::renew() {
    left_ = session_.settings.retries;
    timedOut_ = false;
    done_ = 0;
    requestsWithoutProgress_ = 0;
}

bool RetryBudget::overdue() const {
    return started_ &&
           Clock::now() - lastProgress_ > std::chrono::seconds(session_.settings.progressSeconds);
}

std::string RetryBudget::overdueCause() const {
    return "the server sent less than " + std::to_string(kProgressBytes / 1024) + " KiB in " +
           std::to_string(session_.settings.progressSeconds) + " s";
}

DocumentTransfer::DocumentTransfer(const std::string& url, DocumentSink& sink, HttpSession& session,
                                   DocumentFailure failure, std::uint64_t wireLimit)
    : escaped_(escapeUrl(url)),
      sink_(sink),
      describeFailure_(std::move(failure)),
      retries_(session),
      wireLimit_(wireLimit) {}

PatchException DocumentTransfer::failureFor(const std::string& reason) const {
    return describeFailure_(reason);
}

bool DocumentTransfer::prepare(CURL* handle) {
    handle_ = handle;
    sink_.restart();
    retries_.start();
    earlierTries_ += thisTry_;
    thisTry_ = 0;
    curl_easy_setopt(handle, CURLOPT_URL, escaped_.c_str());
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &DocumentTransfer::write);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    return true;
}

// Hands a document's body to its sink once the answer is known to be the document: an error
// page's bytes are counted off, never parsed as a file list or chunk index.
std::size_t DocumentTransfer::write(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<DocumentTransfer*>(self);
    const std::size_t length = size * count;
    if (responseStatus(transfer.handle_) != 200) {
        return length;
    }
    if (!transfer.sink_.append(data, length)) {
        transfer.refused_ = true;
        return 0;  // fails the write, which ends the transfer
    }
    return length;
}

bool DocumentTransfer::onReceived(std::uint64_t bytes) {
    if (wireLimit_ != 0 && bytes > wireLimit_) {
        passedWireLimit_ = true;
        return false;
    }
    // A document begins anew with each try: what a try brings keeps the clock going, never
    // the retries.
    thisTry_ = bytes;
    retries_.advanced(earlierTries_ + thisTry_);
    return !retries_.overdue();
}

HttpTransfer::Next DocumentTransfer::finished(CURL* handle, CURLcode code, long& pauseMs) {
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, nullptr);
    const long status = responseStatus(handle);
    if (code == CURLE_OK && status == 200) {
        return Next::Done;
    }
    if (refused_ || passedWireLimit_) {
        return fail("the document was refused as it arrived");
    }
    if (retries_.overdue()) {
        return fail(retries_.overdueCause());
    }
    const bool transient = code == CURLE_OK ? status >= 500 : isTransient(code);
    if (transient) {
        pauseMs = retries_.nextPause(code);
    }
    if (!transient || pauseMs < 0) {
        return fail(code == CURLE_OK ? statusCause(status)
                                     : transferCause(handle, code, retries_.session().settings));
    }
    return Next::Again;
}

namespace {

// How many of `asked` still lack bytes; each range ends where its piece does.
std::size_t stillMissing(const std::vector<HttpRange>& asked,
                         const std::vector<HttpRange>& missing) {
    return static_cast<std::size_t>(
        std::count_if(asked.begin(), asked.end(), [&](const HttpRange& range) {
            return std::any_of(missing.begin(), missing.end(),
                               [&](const HttpRange& m) { return m.last == range.last; });
        }));
}

std::string refusalCause(long status, RangeReceiver::Refusal refusal) {
    if (status == 416) {
        return "the server refused the range request (status 416)";
    }
    if (refusal == RangeReceiver::Refusal::LargeWholeFile) {
        return "the server sent the whole file instead of the ranges asked for (status 200)";
    }
    return "the server's multipart answer (status " + std::to_string(status) +
           ") could not be read";
}

}  // namespace

RangeTransfer::RangeTransfer(const std::string& url, RangeReceiver& receiver, HttpSession& session)
    : escaped_(escapeUrl(url)), receiver_(receiver), session_(session), retries_(session) {}

bool RangeTransfer::prepare(CURL* handle) {
    asked_ = receiver_.missingRanges();
    if (asked_.empty()) {
        return false;  // an empty range list would ask for nothing, and be refused for it
    }
    retries_.start();
    asked_.resize(std::min({asked_.size(), session_.rangesPerRequest(), kMaxRangesPerRequest}));
    const std::string list = rangeList(asked_, 0, asked_.size());
    before_ = receiver_.written();
    receiver_.beginResponse(asked_);
    curl_easy_setopt(handle, CURLOPT_URL, escaped_.c_str());
    curl_easy_setopt(handle, CURLOPT_RANGE, list.c_str());
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &RangeReceiver::bodyCallback);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receiver_);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &RangeReceiver::headerCallback);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &receiver_);
    return true;
}

PatchException RangeTransfer::failureFor(const std::string& reason) const {
    const std::string& path = receiver_.path();
    return {Failure::RangesNotFetched, path,
            "Http request failed while patching '" + path + "'! " + reason};
}

bool RangeTransfer::progressed() {
    if (retries_.advanced(receiver_.written(), receiver_.completePieces())) {
        retries_.renew();
        return true;
    }
    return false;
}

bool RangeTransfer::onReceived(std::uint64_t /*bytes*/) {
    progressed();
    return !retries_.overdue();
}

HttpTransfer::Next RangeTransfer::finished(CURL* handle, CURLcode code, long& pauseMs) {
    // The receiver may die before the handle's next use: the handle must not keep pointing at
    // it. Nor may the range list stay, or the handle's next whole-file request would ask for it.
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, nullptr);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, nullptr);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(handle, CURLOPT_RANGE, nullptr);
    const std::size_t count = asked_.size();
    const long status = responseStatus(handle);
    const RangeReceiver::Refusal refusal = receiver_.refusal();
    if (code == CURLE_OK && status == 206 && refusal == RangeReceiver::Refusal::None) {
        session_.learnFromAnswer({.asked = count, .rangesPlaced = true});
    }
    receiver_.endBody();
    if (receiver_.complete()) {
        // Every byte has come, whatever became of the rest of the answer (a closing delimiter
        // cut off, a connection reset): nothing is left to ask for.
        return Next::Done;
    }
    const bool gained = progressed();
    if (retries_.overdue()) {
        return fail(retries_.overdueCause());
    }
    if (!gained && !retries_.countRequestWithoutProgress()) {
        return fail("the server's last " +
                    std::to_string(RetryBudget::kMaxRequestsWithoutProgress) +
                    " answers brought less than " +
                    std::to_string(RetryBudget::kProgressBytes / 1024) + " KiB");
    }

    if (status == 416 || refusal == RangeReceiver::Refusal::LargeWholeFile ||
        refusal == RangeReceiver::Refusal::UnplaceableBody) {
        if (count == 1) {
            return fail(refusalCause(status, refusal));
        }
        // The server cannot answer several ranges at once: ask for fewer for the rest of the
        // run.
        session_.learnFromAnswer({.asked = count, .refusedSeveral = true});
        return Next::Again;
    }
    const std::size_t left = stillMissing(asked_, receiver_.missingRanges());
    // An answer cut short after every range it was asked for came (in its closing delimiter,
    // say) is no fault: the rest follows at once.
    const bool ended = code == CURLE_OK || (code == CURLE_WRITE_ERROR && receiver_.endedEarly()) ||
                       (isTransient(code) && status == 206 && left == 0);
    if (ended && status != 200 && status != 206 && status < 500) {
        return fail(statusCause(status));
    }
    if (!ended || status >= 500) {
        const bool transient =
            ended || isTransient(code) || refusal == RangeReceiver::Refusal::ErrorStatus;
        if (refusal == RangeReceiver::Refusal::ErrorStatus && status < 500) {
            return fail(statusCause(status));
        }
        if (transient) {
            pauseMs = retries_.nextPause(code);
        }
        if (!transient || pauseMs < 0) {
            return fail(status >= 500 || refusal == RangeReceiver::Refusal::ErrorStatus
                            ? statusCause(status)
                            : transferCause(handle, code, session_.settings));
        }
        return Next::Again;
    }
    if (receiver_.written() == before_) {
        if (++fruitless_ == 2) {
            return fail("the server sent none of " + std::to_string(count) +
                        " ranges asked for (status " + std::to_string(status) + ")");
        }
        return Next::Again;
    }
    fruitless_ = 0;
    if (left > 0 && receiver_.partsSeen() > 0 && receiver_.partsSeen() < count) {
        session_.learnFromAnswer({.asked = count, .partsAnswered = receiver_.partsSeen()});
    }
    return Next::Again;
}

void HttpSession::learnFromAnswer(const RangeAnswer& answer) {
    rangesAnswered_ = rangesAnswered_ || answer.rangesPlaced;
    std::size_t ranges = rangesPerRequest_;
    if (answer.refusedSeveral && answer.asked > 1) {
        // The server cannot answer several ranges at once: a quarter as many, down to one.
        ranges = std::max<std::size_t>(1, answer.asked / 4);
    } else if (answer.partsAnswered > 0 && answer.partsAnswered < answer.asked) {
        // The server has a limit of its own on the parts of one answer: keep to it.
        ranges = answer.partsAnswered;
    }
    rangesPerRequest_ = std::min(rangesPerRequest_, ranges);
}

}  // namespace veldmoor
