// Several request sequences on the wire at once, through libcurl's multi interface: a number
// of handles, each serving one transfer's request at a time, over at most the session's
// connections, kept open between requests. Against an HTTP/1.1 server each connection carries
// one request, so there are as many handles as connections, and once the first answer shows
// HTTP/1.1 the pool grows to the session's http1Connections, backing off by half (down to the
// connections it began with) when the server refuses or times out; once a server is seen to
// multiplex (HTTP/2), each connection carries up to kStreamsPerConnection requests at once. The
// pool runs on its caller's thread and only while the caller asks it to (run), so a stop is noticed
// within one short wait.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "sync/http_transfer.h"

namespace veldmoor {

class TransferPool {
public:
    // Longest wait for network activity before the stop request is polled again.
    static constexpr std::chrono::milliseconds kPollInterval{50};
    // Most handles, whatever the settings ask for.
    static constexpr std::size_t kMaxConnections = kMaxHttpConnections;
    // Requests one multiplexed connection carries at once, and the most of them in all: a
    // round trip costs a stream, not a connection, yet every request in flight holds its file.
    static constexpr std::size_t kStreamsPerConnection = 32;
    static constexpr std::size_t kMaxInFlight = 256;

    // `session` must outlive the pool; its settings are read when a request is set up.
    explicit TransferPool(HttpSession& session);
    ~TransferPool();
    TransferPool(const TransferPool&) = delete;
    TransferPool& operator=(const TransferPool&) = delete;

    // Queues `transfer`; its first request goes out once a handle is free. The transfer must
    // stay alive until it has ended or is cancelled.
    void start(HttpTransfer& transfer);
    // Queues `transfer` ahead of those queued with start(), behind others queued this way: a
    // small request that later transfers wait for (a chunk index) is not held up behind the
    // data already asked for. The caller keeps such transfers to a share of the handles.
    void startAhead(HttpTransfer& transfer);
    // Ends `transfer` wherever it is (on the wire, queued, pausing); it is Idle afterwards.
    void cancel(HttpTransfer& transfer);
    // Drives the transfers (at least one step, so `until` may be "at once") until `until`
    // holds or none is left to drive. False when the session's stop request asked to end; the
    // transfers then stay where they are.
    bool run(const std::function<bool()>& until);
    // Transfers that have ended (done or failed) since the pool began.
    std::size_t endedCount() const { return ended_; }
    // Requests that may be on the wire at once now: the connections, more of them over
    // HTTP/1.1, or more streams once the server multiplexes.
    std::size_t capacity() const { return limit_; }
    // The most requests that were on the wire at once.
    std::size_t peakInFlight() const { return peakInFlight_; }

private:
    struct Slot {
        TransferPool* pool = nullptr;
        CURL* handle = nullptr;
        HttpTransfer* transfer = nullptr;
    };
    using Clock = std::chrono::steady_clock;

    static int onProgress(void* slot, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    bool stopRequested() const;
    // Sends queued transfers whose pause is over out on free handles.
    void dispatch();
    // Takes the ended requests from libcurl and lets their transfers decide what follows.
    void collect();
    bool hasFreeSlot() const;
    bool idle() const;
    // Adds handles for the streams a multiplexing server offers, once `handle` shows one, or
    // for the further connections an HTTP/1.1 server gets.
    void growForServer(CURL* handle);
    // Halves the connections an HTTP/1.1 server gets after the request on `handle` ended with
    // `code`, when that shows the server refusing or slowing.
    void backOffIfRefused(CURL* handle, CURLcode code);
    void setConnectionLimit(std::size_t connections);

    HttpSession& session_;
    CURLM* multi_ = nullptr;
    // A deque: libcurl holds pointers to slots, which must stay put when the pool grows.
    std::deque<Slot> slots_;
    std::size_t connections_ = 1;
    std::size_t limit_ = 1;  // requests on the wire at once, at most slots_.size()
    bool multiplexed_ = false;
    bool grownForHttp1_ = false;
    std::size_t peakInFlight_ = 0;
    struct Queued {
        Clock::time_point due;  // the end of its pause before a retry
        HttpTransfer* transfer = nullptr;
        bool ahead = false;
    };
    void queue(HttpTransfer& transfer, bool ahead);
    std::deque<Queued> waiting_;
    std::size_t ended_ = 0;
};

}  // namespace veldmoor
