// A run is never killed: it ends at a safe point when asked, a new run waits for the old one,
// and a closing dialog releases a worker that waits for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>

#include <pthread.h>

#include "patch/ui_call_bridge.h"
#include "tests/workflow/workflow_fixture.h"

namespace veldmoor::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::steady_clock::duration limit = seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

using WorkerStopTest = WorkflowTest;

TEST_F(WorkerStopTest, AStopDuringATransferEndsQuietlyAndLeavesTheOldFile) {
    Publish("game", {{"big.bin", std::string(300000, 'n')}});
    test::WriteTestFile(Game("big.bin"), "the old content");
    fs::last_write_time(Game("big.bin"),
                        fs::file_time_type::clock::now() - std::chrono::hours(9000));
    ServerFaults faults;
    faults.stall = seconds(120);  // the range request hangs until the server stops
    served_->server().setFaults(faults);

    PatchWorker worker(view_, platform_, Seams());
    PatchRunRequest request = Request();
    request.noSelfPatch = true;
    worker.Start(std::move(request));
    ASSERT_TRUE(WaitUntil([&] {
        for (const ServedRequest& served : served_->server().requests()) {
            if (!served.range.empty())
                return true;
        }
        return false;
    }));
    EXPECT_TRUE(worker.IsRunning());

    worker.RequestStop();
    worker.Join();  // well before the stalled answer would come

    EXPECT_FALSE(worker.IsRunning());
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(view_.StatusText().find("Abbruch"), std::string::npos);
    EXPECT_EQ(view_.Count("EndDialog:0"), 0);
    EXPECT_EQ(test::ReadTestFile(Game("big.bin")), "the old content");
}

TEST_F(WorkerStopTest, ANewRunBeginsOnlyAfterThePreviousOneEnded) {
    PatchWorker worker(view_, platform_);  // real pauses, so the first countdown would take 5 s
    worker.Start(Request(kAutoStartCountdownSeconds));
    ASSERT_TRUE(
        WaitUntil([&] { return view_.Count("SetAutoStartCaption:Automatisch starten (5)") == 1; }));

    const auto begin = std::chrono::steady_clock::now();
    PatchRunRequest second = Request();
    second.noSelfPatch = true;
    worker.Start(std::move(second));  // returns at once; the first run is asked to stop
    ASSERT_TRUE(WaitUntil([&] { return view_.Count("EnterPatchingLayout") == 1; }));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, seconds(4));  // not after a whole countdown
    worker.Join();

    const std::vector<std::string> events = view_.Events();
    const auto firstEnd =
        std::find(events.begin(), events.end(), "SetAutoStartCaption:Automatisch starten");
    const auto secondBegin = std::find(events.begin() + 1, events.end(), "ClearStatusText");
    ASSERT_NE(firstEnd, events.end());
    ASSERT_NE(secondBegin, events.end());
    EXPECT_LT(firstEnd, secondBegin);
    EXPECT_EQ(view_.Count("EnterPatchingLayout"), 1);
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

// A view that hands every call to a "user-interface thread" through UiCallBridge, as the
// dialog does; the test plays that thread by running the queued tasks itself.
class BridgedView : public LauncherView {
public:
    explicit BridgedView(LauncherView& inner)
        : inner_(inner), bridge_([this](std::function<void()> task) { Post(std::move(task)); }) {}

    void RunQueued() {
        std::deque<std::function<void()>> tasks;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();
    }
    bool HasQueued() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return !tasks_.empty();
    }
    void Close() { bridge_.Close(); }

    void Report(const RunEvent& event) override {
        Forward([&] { inner_.Report(event); });
    }
    bool Ask(const RunQuestion& question) override {
        bool yes = false;
        Forward([&] { yes = inner_.Ask(question); });
        return yes;
    }

private:
    void Post(std::function<void()> task) {
        const std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    void Forward(const std::function<void()>& call) { bridge_.Call(call); }

    LauncherView& inner_;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    UiCallBridge bridge_;
};

TEST_F(WorkerStopTest, ClosingTheDialogReleasesAWorkerWaitingForAnAnswer) {
    platform_.folderAccess = false;  // the run will ask about the folder's rights
    BridgedView bridged(view_);
    {
        PatchWorker worker(bridged, platform_, Seams());
        PatchRunRequest request = Request();
        request.noSelfPatch = true;
        worker.Start(std::move(request));
        // Play the user-interface thread until the question is waiting to be shown.
        ASSERT_TRUE(WaitUntil([&] {
            if (view_.Count("AppendStatusLine:Aktualisiere den Client ..") == 0) {
                bridged.RunQueued();
                return false;
            }
            return bridged.HasQueued();
        }));
        // The dialog closes instead of showing it.
        bridged.Close();
        worker.RequestStop();
    }  // the worker's end is waited for here, and comes at once

    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_TRUE(platform_.elevatedRuns.empty());  // a released question counts as declined
    bridged.RunQueued();                          // late tasks do nothing
    EXPECT_TRUE(view_.Messages().empty());
    EXPECT_EQ(view_.Count("EndDialog:0"), 0);
}

// Stands in for an elevated rights repair whose password question nobody answers: the wait
// ends only when the run is asked to stop (or after its full timeout).
class UnansweredRepairPlatform : public RecordingPlatform {
public:
    ElevatedRun RunElevatedAndWaitUnlessStopped(
        const std::vector<std::string>& arguments, std::chrono::milliseconds timeout,
        const std::function<bool()>& stopRequested) override {
        waiting = true;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!stopRequested() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));
        RecordingPlatform::RunElevatedAndWait(arguments, timeout);  // recorded like any repair
        return ElevatedRun::TimedOut;
    }
    std::atomic<bool> waiting{false};
};

TEST_F(WorkerStopTest, ClosingTheDialogDuringTheElevatedRepairEndsTheRunWithoutWaitingItOut) {
    UnansweredRepairPlatform platform;
    platform.folderAccess = false;
    platform.folderAccessAfterRepair = false;
    view_.Answer(PromptAnswer::Yes).Answer(PromptAnswer::Ok);
    PatchWorker worker(view_, platform, Seams());
    PatchRunRequest request = Request();
    request.noSelfPatch = true;
    worker.Start(std::move(request));
    ASSERT_TRUE(WaitUntil([&] { return platform.waiting.load(); }));

    worker.RequestStop();
    worker.Join();  // not the two minutes the repair may take

    // The run ends quietly: no report that the repair failed, no abort line.
    const auto messages = view_.Messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].caption, "Zugriff verweigert");
    EXPECT_EQ(messages[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(view_.StatusText().find("Abbruch"), std::string::npos);
    EXPECT_EQ(view_.Count("EndDialog:0"), 0);
}

}  // namespace
}  // namespace veldmoor::testing

namespace veldmoor::testing {
namespace {

std::size_t CurrentThreadStackSize() {
    pthread_attr_t attributes;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
    }
    return size;
}

TEST_F(WorkerStopTest, TheRunHasTheSystemsDefaultStack) {
    std::size_t plainThread = 0;
    std::thread([&plainThread] { plainThread = CurrentThreadStackSize(); }).join();
    std::size_t worker = 0;
    view_.OnEvent([&worker](const std::string& event) {
        if (event == "ClearStatusText")
            worker = CurrentThreadStackSize();
    });
    PatchRunRequest request = Request();
    request.noSelfPatch = true;
    Run(std::move(request));
    EXPECT_GT(worker, 64U * 1024U);
    EXPECT_EQ(worker, plainThread);
}

TEST_F(WorkerStopTest, AFreshInstallationFolderIsCreatedAndFilled) {
    fs::remove_all(gameFolder_);
    Publish("game", {{"client.exe", "game"}});
    PatchRunRequest request = Request();
    request.noSelfPatch = true;
    Run(std::move(request));
    EXPECT_EQ(test::ReadTestFile(Game("client.exe")), "game");
    EXPECT_EQ(view_.Count("EndDialog:0"), 1);
}

}  // namespace
}  // namespace veldmoor::testing
