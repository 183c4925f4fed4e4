#include "patch/patch_worker.h"

#include <utility>

#include "patch/patch_run.h"

namespace veldmoor {

std::mutex& CountdownLock() {
    static std::mutex lock;
    return lock;
}

PatchWorker::PatchWorker(LauncherView& view, PatchPlatform& platform, PatchRunSeams seams)
    : view_(view), platform_(platform), seams_(std::move(seams)) {}

PatchWorker::~PatchWorker() {
    RequestStop();
    Join();
}

void PatchWorker::Start(PatchRunRequest request) {
    auto control = std::make_shared<Control>();
    std::shared_ptr<Control> previous;
    {
        const std::lock_guard<std::mutex> lock(stateLock_);
        previous = std::exchange(current_, control);
        // Reset here, on the caller's thread, so a CancelCountdown right after Start is never
        // lost; a run without a countdown leaves the flag as it was.
        if (request.countdownSeconds > 0)
            cancelCountdown_ = 0;
    }
    if (previous)
        previous->RequestStop();

    // The platform's default stack: the run nests deep enough (engine, libcurl, message boxes)
    // that a tiny fixed stack would overflow.
    thread_ = std::thread(
        [this, earlier = std::move(thread_), control, request = std::move(request)]() mutable {
            if (earlier.joinable())
                earlier.join();
            PatchRun run(view_, platform_, seams_, std::move(request), *control,
                         CountdownState{stateLock_, cancelCountdown_});
            run.Execute();
            control->finished = true;
        });
}

void PatchWorker::CancelCountdown() {
    std::shared_ptr<Control> control;
    {
        const std::lock_guard<std::mutex> lock(stateLock_);
        cancelCountdown_ = 1;
        control = current_;
    }
    if (control)
        control->Wake();
}

std::shared_ptr<PatchWorker::Control> PatchWorker::CurrentRun() const {
    const std::lock_guard<std::mutex> lock(stateLock_);
    return current_;
}

void PatchWorker::RequestStop() {
    if (const std::shared_ptr<Control> control = CurrentRun())
        control->RequestStop();
}

void PatchWorker::StopByPlayer() {
    if (const std::shared_ptr<Control> control = CurrentRun())
        control->RequestStop(/*byPlayer=*/true);
}

void PatchWorker::Pause() {
    if (const std::shared_ptr<Control> control = CurrentRun())
        control->RequestPause();
}

void PatchWorker::Resume() {
    if (const std::shared_ptr<Control> control = CurrentRun())
        control->Resume();
}

bool PatchWorker::IsRunning() const {
    const std::lock_guard<std::mutex> lock(stateLock_);
    return current_ && !current_->finished;
}

void PatchWorker::Join() {
    if (thread_.joinable())
        thread_.join();
}

}  // namespace veldmoor
