// The engine's HTTP layer: a thin layer over the libcurl easy interface. It makes no decision
// about what to fetch; the file list, the chunk indexes and the file rebuild build the URLs and
// ranges. Both request operations return a success flag and never throw.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veldmoor {

class RangeReceiver;

// libcurl's write- and header-callback form; must return size * count to go on.
using CurlCallback = std::size_t (*)(char* data, std::size_t size, std::size_t count,
                                     void* userData);

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

// One GET; the body goes to `write` with `userData`. `handle` may be null: a handle is then
// made for this call. True when the transfer completed; the HTTP status is not examined, so an
// error page reaches the sink like any other body. Leaves the range and header options of
// `handle` as they were: a handle serves plain GETs only before its first range request.
bool httpGet(const std::string& url, CurlCallback write, void* userData, CURL* handle);

// How a run's requests behave on a real link. The defaults suit the internet; tests and the
// bandwidth cap change them.
struct HttpSettings {
    long connectTimeoutSeconds = 15;
    // A transfer that receives less than one byte a second for this long has stalled and ends
    // with a time-out.
    long stallSeconds = 15;
    // Download rate cap in bytes a second; 0: none.
    std::int64_t maxReceiveBytesPerSecond = 0;
    // Further tries after a transient fault (connection reset or refused, a 5xx answer, a body
    // cut short); a stall is tried once more at most, so a dead server ends a run in about
    // twice the stall time.
    int retries = 3;
    // Pause before the first retry; doubled before each further one.
    long firstRetryPauseMs = 1000;
    // Told of each retry with a German status line.
    std::function<void(const std::string&)> onRetry;

    // The defaults, with what the environment sets: VELDMOOR_LIMIT_RATE (bytes a second, with
    // an optional k or M suffix), VELDMOOR_CONNECT_TIMEOUT and VELDMOOR_STALL_SECONDS
    // (seconds), VELDMOOR_RETRY_PAUSE_MS.
    static HttpSettings fromEnvironment();
};

// Parses a rate such as "500k", "2M" or "125000" (bytes a second; k = 1024). False when the
// text is not one.
bool parseByteRate(const std::string& text, std::int64_t& bytesPerSecond);

// One run's connection to its server: its settings and what it learned of the server. Attached
// to the run's handle (configureHandle), so every request through that handle uses it; it must
// outlive the handle's use.
struct HttpSession {
    HttpSettings settings;
    // Ranges per request; lowered for the rest of the run when the server refuses several at
    // once or answers fewer than asked.
    std::size_t rangesPerRequest = kMaxRangesPerRequest;
    // Polled during a pause before a retry; true ends the wait and the request.
    std::function<bool()> stopped;
};

// Sets the handle's time-outs, rate cap and redirect rules (at most 5 redirects, http and https
// only, any other scheme refused) from `session`, and attaches the session.
void configureHandle(CURL* handle, HttpSession& session);

// The outcome of a request: `cause` names what went wrong in English ("the server answered
// status 404"), empty on success.
struct HttpResult {
    bool ok = true;
    std::string cause;
};

// Where a document's bytes go as they arrive, so that a large or hostile one is never held
// whole.
class DocumentSink {
public:
    virtual ~DocumentSink() = default;
    // Called before each try: a document that is fetched again begins anew.
    virtual void restart() = 0;
    // False refuses the document (a bound passed, bytes that cannot belong to it); the transfer
    // ends at once and is not tried again.
    virtual bool append(const char* data, std::size_t size) = 0;
};

// GETs a whole document (the file list, a chunk index) into `sink`. Only the body of a 200
// answer reaches the sink, and the fetch succeeds only when it was received in full; transient
// faults are retried as the handle's session says.
HttpResult fetchDocument(const std::string& url, DocumentSink& sink, CURL* handle);
// The same into a string, which is empty unless the fetch succeeded.
HttpResult fetchDocument(const std::string& url, std::string& body, CURL* handle);

// GETs what `receiver` still lacks of one file, at most kMaxRangesPerRequest ranges (fewer when
// the session learned so) per request, asking again for what an answer left out, until every
// piece is in. Fails when the server refuses a single range, answers an error status, or sends
// nothing of what it is asked for twice in a row.
HttpResult httpGetRanges(const std::string& url, RangeReceiver& receiver, CURL* handle);

// A write callback appending to the std::stringstream given as user data.
std::size_t appendToStringStream(char* data, std::size_t size, std::size_t count, void* stream);

}  // namespace veldmoor
