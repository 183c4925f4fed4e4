// The engine's requests: a thin layer over libcurl. It makes no decision about what to fetch;
// the file list, the chunk indexes and the file rebuild build the URLs and ranges, and a
// TransferPool (sync/transfer_pool.h) drives the transfers. Private to sync/: no libcurl type
// leaves it.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sync/http.h"
#include "sync/patch_exception.h"

namespace veldmoor {

class RangeReceiver;

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
// up on whatever handle is free, so that a TransferPool can drive many at once.
class HttpTransfer {
public:
    enum class Next { Done, Again, Failed };
    enum class State { Idle, Waiting, Running, Done, Failed };

    virtual ~HttpTransfer() = default;
    // Sets the options of the next request on `handle`. False when nothing is left to ask
    // for: the transfer is then done without a request.
    virtual bool prepare(CURL* handle) = 0;
    // The request on `handle` ended with `code`. Again: the next request follows after
    // `pauseMs`. Failed: failure() says why.
    virtual Next finished(CURL* handle, CURLcode code, long& pauseMs) = 0;
    // The bytes the current answer has brought on the wire so far; false ends the request.
    virtual bool onReceived(std::uint64_t /*bytes*/) { return true; }

    // Why the sequence failed, as the engine's failure, ready to be thrown in the turn of what
    // it fetched. Only once the transfer has failed.
    const PatchException& failure() const { return *failure_; }
    State state() const { return state_; }
    bool ended() const { return state_ == State::Done || state_ == State::Failed; }
    void setState(State state) { state_ = state; }
    // Ends the transfer as failed without a request (no handle could be made for it).
    void setFailed(const std::string& reason) {
        fail(reason);
        state_ = State::Failed;
    }

protected:
    // Keeps the engine's failure for `reason`, what went wrong in English ("the server answered
    // status 404"); returns Failed.
    Next fail(const std::string& reason) {
        failure_.emplace(failureFor(reason));
        return Next::Failed;
    }
    // The engine's failure this sequence ends in when `reason` stops it.
    virtual PatchException failureFor(const std::string& reason) const = 0;

private:
    State state_ = State::Idle;
    std::optional<PatchException> failure_;
};

// What a document's failed transfer is to the engine (the file list's, a chunk index's, a signed
// file's), given what went wrong in English; said by whoever asks for the document, the one
// that knows what it is for.
using DocumentFailure = std::function<PatchException(const std::string& reason)>;

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
                     DocumentFailure failure, std::uint64_t wireLimit = 0);
    bool prepare(CURL* handle) override;
    Next finished(CURL* handle, CURLcode code, long& pauseMs) override;
    bool onReceived(std::uint64_t bytes) override;
    // The sink refused the document, or it passed its bound on the wire.
    bool refused() const { return refused_; }
    bool passedWireLimit() const { return passedWireLimit_; }

private:
    static std::size_t write(char* data, std::size_t size, std::size_t count, void* self);
    PatchException failureFor(const std::string& reason) const override;

    std::string escaped_;
    DocumentSink& sink_;
    DocumentFailure describeFailure_;
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
// piece is in. Its failure is the file's: its ranges were not fetched.
class RangeTransfer : public HttpTransfer {
public:
    RangeTransfer(const std::string& url, RangeReceiver& receiver, HttpSession& session);
    bool prepare(CURL* handle) override;
    Next finished(CURL* handle, CURLcode code, long& pauseMs) override;
    bool onReceived(std::uint64_t bytes) override;

private:
    PatchException failureFor(const std::string& reason) const override;
    bool progressed();

    std::string escaped_;
    RangeReceiver& receiver_;
    HttpSession& session_;
    RetryBudget retries_;
    std::vector<HttpRange> asked_;
    std::uint32_t before_ = 0;
    int fruitless_ = 0;
};

}  // namespace veldmoor
