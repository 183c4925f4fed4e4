// What the engine's HTTP layer offers beyond sync/: its settings and what a run learns of its
// server. The requests themselves, and how a failed one is told (sync/http_transfer.h), are
// libcurl's and stay inside sync/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace veldmoor {

// First and last byte position of a range, both inclusive.
struct HttpRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;

    friend bool operator==(const HttpRange&, const HttpRange&) = default;
};

// Most ranges one request carries; bounds the length of the Range header.
inline constexpr std::size_t kMaxRangesPerRequest = 35;

// The URL to request: backslashes become '/', and every path segment is percent-encoded
// (bytes other than letters, digits, "-", ".", "_" and "~"). Scheme and authority
// ("127.0.0.1:8080", "[::1]:80", "user@host") stay as they are; empty segments stay empty, so a
// doubled or trailing slash is kept. A URL without "://" is returned unchanged.
std::string escapeUrl(const std::string& url);

// Most handles a run's transfers use, whatever its settings ask for (TransferPool).
inline constexpr std::size_t kMaxHttpConnections = 64;

// A broken request sequence is tried again: the how-manieth retry, and the pause before it.
struct RetryNotice {
    int attempt = 0;
    long pauseMs = 0;
};

// How a run's requests behave on a real link. The defaults suit the internet; tests and the
// bandwidth cap change them.
struct HttpSettings {
    long connectTimeoutSeconds = 15;
    // A transfer that receives less than one byte a second for this long has stalled and ends
    // with a time-out.
    long stallSeconds = 15;
    // Download rate cap in bytes a second; 0: none. A capped run uses one connection.
    std::int64_t maxReceiveBytesPerSecond = 0;
    // Further tries after a transient fault (connection reset or refused, a 5xx answer, a body
    // cut short); a stall is tried once more at most, so a dead server ends a run in about
    // twice the stall time.
    int retries = 3;
    // Pause before the first retry; doubled before each further one.
    long firstRetryPauseMs = 1000;
    // Connections to the server. Over HTTP/1.1 each carries one request at a time; a server
    // that multiplexes (HTTP/2) gets several streams on each (TransferPool).
    std::size_t connections = 6;
    // Connections a server that answers over HTTP/1.1 gets at most (never fewer than
    // `connections`): there each connection carries one request a round trip, so once the
    // first answer shows HTTP/1.1 the pool opens up to this many, and halves them again (not
    // below `connections`) whenever the server refuses a connection, answers 429 or 503, or
    // times out (TransferPool).
    std::size_t http1Connections = 32;
    // Certificates to trust for https in place of the system's (a PEM file), for a world with
    // its own certificate authority; empty: the system's. Verification is never turned off.
    std::string caFile;
    // Told of each retry, before its pause; the caller words it.
    std::function<void(const RetryNotice&)> onRetry;

    // A request sequence (a document, the ranges of one file) that makes no progress worth the
    // name for this long fails (RetryBudget), however its server keeps it busy. Room for a
    // stall on each try and the pauses between: libcurl notices a stall only once its speed,
    // averaged over a few seconds, has stayed below the limit for the stall time.
    long progressSeconds = 90;

    // The defaults, with what the environment sets: VELDMOOR_LIMIT_RATE (bytes a second, with
    // an optional k or M suffix), VELDMOOR_CONNECT_TIMEOUT, VELDMOOR_STALL_SECONDS and
    // VELDMOOR_PROGRESS_SECONDS (seconds), VELDMOOR_RETRY_PAUSE_MS, VELDMOOR_CONNECTIONS,
    // VELDMOOR_HTTP1_CONNECTIONS, VELDMOOR_CA_FILE.
    static HttpSettings fromEnvironment();
};

// Parses a rate such as "500k", "2M" or "125000" (bytes a second; k = 1024). False when the
// text is not one.
bool parseByteRate(const std::string& text, std::int64_t& bytesPerSecond);

// What one answer to a range request showed of its server.
struct RangeAnswer {
    std::size_t asked = 0;  // ranges the request asked for
    // A 206 answer whose ranges could be placed: the server answers ranges.
    bool rangesPlaced = false;
    // The server refused several ranges at once (416, a large whole file, a multipart answer
    // without its boundary).
    bool refusedSeveral = false;
    // Parts the answer held when the server stopped short of the ranges asked; 0 when it did
    // not.
    std::size_t partsAnswered = 0;
};

// One run's connection to its server: its settings and what it learned of the server. Attached
// to the run's handle (configureHandle), so every request through that handle uses it; it must
// outlive the handle's use.
class HttpSession {
public:
    HttpSettings settings;
    // Polled during a pause before a retry and while transfers run; true ends them.
    std::function<bool()> stopped;

    // Ranges per request; lowered for the rest of the run when the server refuses several at
    // once or answers fewer than asked.
    std::size_t rangesPerRequest() const { return rangesPerRequest_; }
    // Set once the server has answered a range request with its ranges (206): a large file's
    // ranges may then be spread over several requests at once without each of them costing
    // the whole file.
    bool rangesAnswered() const { return rangesAnswered_; }
    // Takes what an answer showed. Requests run side by side, and an answer to one sent before
    // the count was lowered may come after: the count only ever goes down, to the lowest any
    // answer called for.
    void learnFromAnswer(const RangeAnswer& answer);

private:
    std::size_t rangesPerRequest_ = kMaxRangesPerRequest;
    bool rangesAnswered_ = false;
};

}  // namespace veldmoor
