// Hands calls from the patch worker's thread to the user-interface thread and waits for them,
// as the view's threading contract asks (patch/launcher_view.h). The user-interface side
// supplies how a task is queued on its thread (wxTheApp->CallAfter, a test's own loop) and
// closes the bridge when the dialog closes: from then on every call returns at once, and a call
// that was queued but not yet begun is dropped, so a waiting worker is always released and the
// user-interface thread never waits for the worker.
#pragma once

#include <functional>
#include <memory>

namespace veldmoor {

class UiCallBridge {
public:
    // Queues a task to run later on the user-interface thread. It must not run the task inline.
    using Poster = std::function<void(std::function<void()>)>;

    explicit UiCallBridge(Poster post);
    ~UiCallBridge();
    UiCallBridge(const UiCallBridge&) = delete;
    UiCallBridge& operator=(const UiCallBridge&) = delete;

    // Worker side: runs call on the user-interface thread and returns true once it has run.
    // Returns false without running it when the bridge is (or becomes) closed before the call
    // began. A call that has begun is always waited for, so it may refer to the caller's data.
    bool Call(const std::function<void()>& call);

    // User-interface side: releases every waiting call and refuses new ones. Never blocks.
    void Close();
    bool IsClosed() const;

private:
    struct Shared;
    Poster post_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace veldmoor
