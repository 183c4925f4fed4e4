#include "sync/transfer_pool.h"

#include <algorithm>

namespace veldmoor {

TransferPool::TransferPool(HttpSession& session) : session_(session), multi_(curl_multi_init()) {
    // libcurl caps the rate of each transfer, not of a run: a capped run uses one connection,
    // which the cap leaves little room to overlap anyway.
    connections_ = session.settings.maxReceiveBytesPerSecond > 0
                       ? 1
                       : std::clamp<std::size_t>(session.settings.connections, 1, kMaxConnections);
    slots_.resize(connections_);
    limit_ = connections_;
    for (Slot& slot : slots_) {
        slot.pool = this;
    }
    if (multi_ != nullptr) {
        // Streams share a connection where the server offers HTTP/2; otherwise each request
        // needs a connection of its own, and they are kept open for the next.
        curl_multi_setopt(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
        setConnectionLimit(connections_);
        // Spreads the streams over the connections rather than crowding one: each connection
        // brings its own congestion window.
#if LIBCURL_VERSION_NUM >= 0x074300
        curl_multi_setopt(multi_, CURLMOPT_MAX_CONCURRENT_STREAMS,
                          static_cast<long>(kStreamsPerConnection));
#endif
    }
}

TransferPool::~TransferPool() {
    for (Slot& slot : slots_) {
        if (slot.handle != nullptr) {
            if (slot.transfer != nullptr) {
                curl_multi_remove_handle(multi_, slot.handle);
            }
            curl_easy_cleanup(slot.handle);
        }
    }
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
    }
}

void TransferPool::setConnectionLimit(std::size_t connections) {
    const auto limit = static_cast<long>(connections);
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, limit);
    curl_multi_setopt(multi_, CURLMOPT_MAX_TOTAL_CONNECTIONS, limit);
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, limit);
}

void TransferPool::start(HttpTransfer& transfer) {
    queue(transfer, false);
}

void TransferPool::startAhead(HttpTransfer& transfer) {
    queue(transfer, true);
}

void TransferPool::queue(HttpTransfer& transfer, bool ahead) {
    if (multi_ == nullptr) {
        transfer.setFailed("no transfer could be set up");
        ++ended_;
        return;
    }
    transfer.setState(HttpTransfer::State::Waiting);
    const auto behind = ahead ? std::find_if(waiting_.begin(), waiting_.end(),
                                             [](const Queued& entry) { return !entry.ahead; })
                              : waiting_.end();
    waiting_.insert(behind, Queued{Clock::time_point{}, &transfer, ahead});
}

void TransferPool::cancel(HttpTransfer& transfer) {
    for (Slot& slot : slots_) {
        if (slot.transfer == &transfer) {
            curl_multi_remove_handle(multi_, slot.handle);
            slot.transfer = nullptr;
        }
    }
    std::erase_if(waiting_, [&](const Queued& entry) { return entry.transfer == &transfer; });
    transfer.setState(HttpTransfer::State::Idle);
}

bool TransferPool::stopRequested() const {
    return session_.stopped && session_.stopped();
}

int TransferPool::onProgress(void* slot, curl_off_t /*dlTotal*/, curl_off_t dlNow,
                             curl_off_t /*ulTotal*/, curl_off_t /*ulNow*/) {
    const auto& owner = *static_cast<Slot*>(slot);
    if (owner.transfer != nullptr &&
        !owner.transfer->onReceived(static_cast<std::uint64_t>(std::max<curl_off_t>(dlNow, 0)))) {
        return 1;
    }
    return owner.pool->stopRequested() ? 1 : 0;
}

void TransferPool::dispatch() {
    const auto now = Clock::now();
    auto inFlight = static_cast<std::size_t>(std::count_if(
        slots_.begin(), slots_.end(), [](const Slot& s) { return s.transfer != nullptr; }));
    for (Slot& slot : slots_) {
        if (inFlight >= limit_) {
            break;
        }
        if (slot.transfer != nullptr) {
            continue;
        }
        // The first transfer whose pause is over, in the order they were queued.
        const auto due = std::find_if(waiting_.begin(), waiting_.end(),
                                      [&](const Queued& entry) { return entry.due <= now; });
        if (due == waiting_.end()) {
            break;
        }
        HttpTransfer* transfer = due->transfer;
        waiting_.erase(due);
        if (slot.handle == nullptr) {
            slot.handle = curl_easy_init();
            if (slot.handle == nullptr) {
                transfer->setFailed("no transfer could be set up");
                ++ended_;
                continue;
            }
        }
        // Each request starts from the run's settings alone: nothing of the handle's previous
        // request (a range list, a receiver) may reach the next. The connections stay with the
        // multi handle.
        curl_easy_reset(slot.handle);
        configureHandle(slot.handle, session_);
        curl_easy_setopt(slot.handle, CURLOPT_XFERINFOFUNCTION, &TransferPool::onProgress);
        curl_easy_setopt(slot.handle, CURLOPT_XFERINFODATA, &slot);
        curl_easy_setopt(slot.handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(slot.handle, CURLOPT_PIPEWAIT, 1L);
        if (!transfer->prepare(slot.handle)) {
            transfer->setState(HttpTransfer::State::Done);  // nothing was left to ask for
            ++ended_;
            continue;
        }
        transfer->setState(HttpTransfer::State::Running);
        slot.transfer = transfer;
        curl_multi_add_handle(multi_, slot.handle);
        ++inFlight;
    }
    peakInFlight_ = std::max(peakInFlight_, inFlight);
}

void TransferPool::growForServer(CURL* handle) {
    // A capped run keeps its one request: libcurl caps each transfer, not the run.
    if (multiplexed_ || grownForHttp1_ || session_.settings.maxReceiveBytesPerSecond > 0) {
        return;
    }
    long version = 0;
    curl_easy_getinfo(handle, CURLINFO_HTTP_VERSION, &version);
    bool multiplexes = version == CURL_HTTP_VERSION_2_0;
#if LIBCURL_VERSION_NUM >= 0x074200
    multiplexes = multiplexes || version == CURL_HTTP_VERSION_3;
#endif
    std::size_t handles = 0;
    if (multiplexes) {
        multiplexed_ = true;
        handles = std::min(connections_ * kStreamsPerConnection, kMaxInFlight);
    } else if (version == CURL_HTTP_VERSION_1_1 || version == CURL_HTTP_VERSION_1_0) {
        grownForHttp1_ = true;
        handles = std::clamp<std::size_t>(session_.settings.http1Connections, connections_,
                                          kMaxConnections);
        setConnectionLimit(handles);
    }
    while (slots_.size() < handles) {
        slots_.emplace_back().pool = this;
    }
    limit_ = std::max(limit_, handles);
}

void TransferPool::backOffIfRefused(CURL* handle, CURLcode code) {
    if (!grownForHttp1_ || limit_ <= connections_) {
        return;
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    const bool refused = code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT ||
                         code == CURLE_GOT_NOTHING || code == CURLE_SEND_ERROR ||
                         code == CURLE_RECV_ERROR || status == 429 || status == 503;
    if (refused) {
        limit_ = std::max(connections_, limit_ / 2);
        setConnectionLimit(limit_);
    }
}

void TransferPool::collect() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CURL* const handle = message->easy_handle;
        const CURLcode code = message->data.result;
        curl_multi_remove_handle(multi_, handle);
        if (code == CURLE_OK) {
            growForServer(handle);
        }
        backOffIfRefused(handle, code);
        const auto slot = std::find_if(slots_.begin(), slots_.end(),
                                       [&](const Slot& s) { return s.handle == handle; });
        if (slot == slots_.end() || slot->transfer == nullptr) {
            continue;
        }
        HttpTransfer* transfer = slot->transfer;
        slot->transfer = nullptr;
        long pauseMs = 0;
        switch (transfer->finished(handle, code, pauseMs)) {
            case HttpTransfer::Next::Done:
                transfer->setState(HttpTransfer::State::Done);
                ++ended_;
                break;
            case HttpTransfer::Next::Failed:
                transfer->setState(HttpTransfer::State::Failed);
                ++ended_;
                break;
            case HttpTransfer::Next::Again:
                transfer->setState(HttpTransfer::State::Waiting);
                // Its next request goes before transfers that have not begun: a file half
                // received is finished first.
                waiting_.push_front(
                    Queued{Clock::now() + std::chrono::milliseconds(pauseMs), transfer, true});
                break;
        }
    }
}

bool TransferPool::hasFreeSlot() const {
    return static_cast<std::size_t>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) {
               return s.transfer != nullptr;
           })) < limit_;
}

bool TransferPool::idle() const {
    return waiting_.empty() && std::none_of(slots_.begin(), slots_.end(),
                                            [](const Slot& s) { return s.transfer != nullptr; });
}

bool TransferPool::run(const std::function<bool()>& until) {
    if (multi_ == nullptr) {
        return !stopRequested();
    }
    for (;;) {
        if (stopRequested()) {
            return false;
        }
        dispatch();
        int running = 0;
        curl_multi_perform(multi_, &running);
        collect();
        if (stopRequested()) {
            return false;
        }
        if (until() || idle()) {
            return true;
        }
        auto wait = kPollInterval;
        if (hasFreeSlot() && !waiting_.empty()) {
            // A handle is free for a transfer whose pause before a retry is still running, or
            // for one that has just asked for its next request: wait no longer than that.
            const auto first =
                std::min_element(waiting_.begin(), waiting_.end(),
                                 [](const Queued& a, const Queued& b) { return a.due < b.due; })
                    ->due;
            wait = std::clamp(
                std::chrono::duration_cast<std::chrono::milliseconds>(first - Clock::now()),
                std::chrono::milliseconds(0), kPollInterval);
            if (wait.count() == 0) {
                continue;
            }
        }
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
}

}  // namespace veldmoor
