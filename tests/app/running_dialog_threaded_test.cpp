#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "system/single_instance.h"

namespace veldmoor {
namespace {

using namespace std::chrono_literals;

std::string TestScope(const char* name) {
    return (std::filesystem::temp_directory_path() / name).string() + std::to_string(getpid());
}

TEST(RunningDialogServing, EveryKnockReachesTheCallbackUntilServingStops) {
    const std::string scope = TestScope("veldmoor-serving-");
    const auto listener = RunningDialogListener::Listen(scope);
    ASSERT_NE(listener, nullptr);
    std::mutex mutex;
    std::condition_variable changed;
    int knocks = 0;
    listener->StartServing([&] {
        const std::lock_guard<std::mutex> lock(mutex);
        ++knocks;
        changed.notify_all();
    });
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(KnockOnRunningDialog(scope));
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, 10s, [&] { return knocks == 3; })) << knocks;
    }
    listener->Stop();
    // Stopped serving, still listening: a knock waits in the queue, and no callback runs.
    EXPECT_TRUE(KnockOnRunningDialog(scope));
    EXPECT_TRUE(listener->WaitForKnock(5s));
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(knocks, 3);
}

TEST(RunningDialogServing, DestroyingAServingListenerEndsItsThread) {
    const std::string scope = TestScope("veldmoor-destroy-");
    std::atomic<int> knocks{0};
    {
        const auto listener = RunningDialogListener::Listen(scope);
        ASSERT_NE(listener, nullptr);
        listener->StartServing([&] { ++knocks; });
    }
    EXPECT_FALSE(KnockOnRunningDialog(scope));
    EXPECT_EQ(knocks.load(), 0);
}

}  // namespace
}  // namespace veldmoor
