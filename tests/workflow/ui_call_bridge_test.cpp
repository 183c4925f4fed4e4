#include "patch/ui_call_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace veldmoor {
namespace {

// A user-interface thread's task queue that the test runs by hand.
class TaskQueue {
public:
    void Post(std::function<void()> task) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        posted_.notify_all();
    }
    void WaitForTask() {
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait(lock, [this] { return !tasks_.empty(); });
    }
    void RunAll() {
        std::deque<std::function<void()>> tasks;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task();
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
};

TEST(UiCallBridge, RunsTheCallOnTheUserInterfaceThreadAndWaitsForIt) {
    TaskQueue queue;
    UiCallBridge bridge([&queue](std::function<void()> task) { queue.Post(std::move(task)); });
    const std::thread::id uiThread = std::this_thread::get_id();
    std::thread::id ranOn;
    bool result = false;
    std::thread worker([&] { result = bridge.Call([&] { ranOn = std::this_thread::get_id(); }); });
    queue.WaitForTask();
    queue.RunAll();
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(ranOn, uiThread);
}

TEST(UiCallBridge, ClosingReleasesAWaitingCallWhichThenNeverRuns) {
    TaskQueue queue;
    UiCallBridge bridge([&queue](std::function<void()> task) { queue.Post(std::move(task)); });
    std::atomic<bool> ran{false};
    std::atomic<bool> result{true};
    std::thread worker([&] { result = bridge.Call([&] { ran = true; }); });
    queue.WaitForTask();
    bridge.Close();  // the dialog closes before it handled the call
    worker.join();   // released without the queue ever running
    EXPECT_FALSE(result);
    queue.RunAll();  // the late task finds the call dropped
    EXPECT_FALSE(ran);
    EXPECT_FALSE(bridge.Call([&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_TRUE(bridge.IsClosed());
}

}  // namespace
}  // namespace veldmoor
