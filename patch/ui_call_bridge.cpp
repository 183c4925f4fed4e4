#include "patch/ui_call_bridge.h"

#include <condition_variable>
#include <mutex>
#include <utility>

namespace veldmoor {

struct UiCallBridge::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
};

namespace {

enum class CallState { Queued, Running, Finished, Dropped };

// One call's hand-over record; shared by the waiting worker and the queued task, so the task
// may outlive the worker's wait (dropped) without touching freed memory.
struct PendingCall {
    const std::function<void()>* call = nullptr;
    CallState state = CallState::Queued;
};

}  // namespace

UiCallBridge::UiCallBridge(Poster post)
    : post_(std::move(post)), shared_(std::make_shared<Shared>()) {}

UiCallBridge::~UiCallBridge() {
    Close();
}

bool UiCallBridge::Call(const std::function<void()>& call) {
    auto pending = std::make_shared<PendingCall>();
    pending->call = &call;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->closed)
            return false;
    }
    std::shared_ptr<Shared> shared = shared_;
    post_([shared, pending] {
        {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            if (pending->state != CallState::Queued || shared->closed) {
                pending->state = CallState::Dropped;
                shared->changed.notify_all();
                return;
            }
            pending->state = CallState::Running;
        }
        (*pending->call)();
        const std::lock_guard<std::mutex> lock(shared->mutex);
        pending->state = CallState::Finished;
        shared->changed.notify_all();
    });

    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait(lock, [&] {
        return pending->state == CallState::Finished || pending->state == CallState::Dropped ||
               (shared_->closed && pending->state == CallState::Queued);
    });
    if (pending->state == CallState::Queued)
        pending->state = CallState::Dropped;
    return pending->state == CallState::Finished;
}

void UiCallBridge::Close() {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closed = true;
    shared_->changed.notify_all();
}

bool UiCallBridge::IsClosed() const {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->closed;
}

}  // namespace veldmoor
