// The engine's HTTP layer: a thin layer over the libcurl easy interface. It makes no decision
// about what to fetch; the file list, the chunk indexes and the file rebuild build the URLs and
// ranges. Both request operations return a success flag and never throw.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
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
    // Told of each retry with a German status line.
    std::function<void(const std::string&)> onRetry;

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

// One run's connection to its server: its settings and what it learned of the server. Attached
// to the run's handle (configureHandle), so every request through that handle uses it; it must
// outlive the handle's use.
struct HttpSession {
    HttpSettings settings;
    // Ranges per request; lowered for the rest of the run when the server refuses several at
    // once or answers fewer than asked.
    std::size_t rangesPerRequest = kMaxRangesPerRequest;
    // Set once the server has answered a range request with its ranges (206): a large file's
    // ranges may then be spread over several requests at once without each of them costing
    // the whole file.
    bool rangesAnswered = false;
    // Polled during a pause before a retry and while transfers run; true ends them.
    std::function<bool()> stopped;
};

// The outcome of a request: `cause` names what went wrong in English ("the server answered
// status 404"), empty on success.
struct HttpResult {
    bool ok = true;
    std::string cause;
};

// What one request sequence (a document, the ranges of one file) may still spend before it
// fails, whatever its server answers: retries after transient faults (a time-out at most once
// more, since each costs a stall), requests in a row that bring no progress, and time without
// progress (HttpSettings::progressSeconds). Only progress worth the name renews them: a piece
// completed or kProgressBytes more received. A server that trickles a few bytes a try, or
// answers every request with next to nothing, ends the sequence after a bounded number of
// requests and a bounded time.
class RetryBudget {
public:
    static constexpr std::uint64_t kProgressBytes = 16 * 1024;
    static constexpr int kMaxRequestsWithoutProgress = 8;

    explicit RetryBudget(HttpSession& session)
        : session_(session), left_(session.settings.retries) {}

    // Called after a transient fault: the pause in milliseconds before the next try, told to
    // the session's listener first; -1 when no retry is left or the pause would pass the time
    // the sequence has without progress.
    long nextPause(CURLcode code);
    // A request goes out: the clock starts with the first.
    void start();
    // An answer brought no progress: false once kMaxRequestsWithoutProgress have in a row.
    bool countRequestWithoutProgress();
    // The sequence has `bytes` in all (a rising count) and `pieces` complete: true, and the
    // clock started afresh, when that is progress since the last.
    bool advanced(std::uint64_t bytes, std::size_t pieces = 0);
    // Progress was made: the retries and requests start afresh.
    void renew();
    // The sequence has gone longer without progress than its settings allow.
    bool overdue() const;
    // Why an overdue sequence failed, in English.
    std::string overdueCause() const;
    HttpSession& session() const { return session_; }

private:
    using Clock = std::chrono::steady_clock;

    HttpSession& session_;
    int left_;
    int done_ = 0;
    bool timedOut_ = false;
    int requestsWithoutProgress_ = 0;
    bool started_ = false;
    Clock::time_point lastProgress_;
    std::uint64_t progressBytes_ = 0;
    std::size_t progressPieces_ = 0;
};

// One request sequence (a document, the ranges of one file) as a series of requests, each set
// up on whatever handle is free, so that a TransferPool can drive many at once and
// fetchDocument and httpGetRanges one after another on a single handle.
class HttpTransfer {
public:
    enum class Next { Done, Again, Failed };
    enum class State { Idle, Waiting, Running, Done, Failed };

    virtual ~HttpTransfer() = default;
    // Sets the options of the next request on `handle`. False when nothing is left to ask
    // for: the transfer is then done without a request.
    virtual bool prepare(CURL* handle) = 0;
    // The request on `handle` ended with `code`. Again: the next request follows after
    // `pauseMs`. Failed: result() says why.
    virtual Next finished(CURL* handle, CURLcode code, long& pauseMs) = 0;
    // The bytes the current answer has brought on the wire so far; false ends the request.
    virtual bool onReceived(std::uint64_t /*bytes*/) { return true; }

    const HttpResult& result() const { return result_; }
    State state() const { return state_; }
    bool ended() const { return state_ == State::Done || state_ == State::Failed; }
    void setState(State state) { state_ = state; }
    // Ends the transfer as failed without a request (no handle could be made for it).
    void setFailed(std::string cause) {
        result_ = {false, std::move(cause)};
        state_ = State::Failed;
    }

protected:
    HttpResult result_;

private:
    State state_ = State::Idle;
};

// Sets the handle's time-outs, rate cap and redirect rules (at most 5 redirects, http and https
// only, any other scheme refused) from `session`, and attaches the session.
void configureHandle(CURL* handle, HttpSession& session);

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

// A whole document into its sink: only the body of a 200 answer reaches the sink, and the
// fetch succeeds only when it was received in full; transient faults are tried again.
// `wireLimit` (0: none) bounds the bytes the answer may take on the wire, before any decoding.
class DocumentTransfer : public HttpTransfer {
public:
    DocumentTransfer(const std::string& url, DocumentSink& sink, HttpSession& session,
                     std::uint64_t wireLimit = 0);
    bool prepare(CURL* handle) override;
    Next finished(CURL* handle, CURLcode code, long& pauseMs) override;
    bool onReceived(std::uint64_t bytes) override;
    // The sink refused the document, or it passed its bound on the wire.
    bool refused() const { return refused_; }
    bool passedWireLimit() const { return passedWireLimit_; }

private:
    static std::size_t write(char* data, std::size_t size, std::size_t count, void* self);

    std::string escaped_;
    DocumentSink& sink_;
    RetryBudget retries_;
    std::uint64_t wireLimit_;
    std::uint64_t earlierTries_ = 0;  // bytes the tries before this one brought
    std::uint64_t thisTry_ = 0;
    CURL* handle_ = nullptr;
    bool refused_ = false;
    bool passedWireLimit_ = false;
};

// What a RangeReceiver still lacks of one file: at most kMaxRangesPerRequest ranges (fewer when
// the session learned so) per request, asking again for what an answer left out, until every
// piece is in.
class RangeTransfer : public HttpTransfer {
public:
    RangeTransfer(const std::string& url, RangeReceiver& receiver, HttpSession& session);
    bool prepare(CURL* handle) override;
    Next finished(CURL* handle, CURLcode code, long& pauseMs) override;
    bool onReceived(std::uint64_t bytes) override;

private:
    Next fail(std::string cause);
    bool progressed();

    std::string escaped_;
    RangeReceiver& receiver_;
    HttpSession& session_;
    RetryBudget retries_;
    std::vector<HttpRange> asked_;
    std::uint32_t before_ = 0;
    int fruitless_ = 0;
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
