// The running window found by its class: a hidden window of class VelLauncherMainDialog per
// scope, which FindWindowW finds from another process. Needs a display (Xvfb under Wine).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "system/single_instance.h"
#include "system/text_encoding.h"
#include "tests/system_win32/helper_process.h"

namespace veldmoor {
namespace {

using namespace std::chrono_literals;

std::string FreshScope() {
    return "C:\\scope-" + std::to_string(std::random_device()());
}

TEST(SingleInstance, OneListenerPerScopeFoundByItsWindowClass) {
    const std::string scope = FreshScope();
    EXPECT_FALSE(KnockOnRunningDialog(scope));
    {
        const auto listener = RunningDialogListener::Listen(scope);
        ASSERT_NE(listener, nullptr);
        EXPECT_NE(::FindWindowW(L"VelLauncherMainDialog", nullptr), nullptr);
        EXPECT_EQ(RunningDialogListener::Listen(scope), nullptr);
        EXPECT_FALSE(KnockOnRunningDialog(scope + "2"));
        EXPECT_FALSE(listener->WaitForKnock(20ms));

        // A second start is another process.
        test::HelperProcess knocker("knock", {scope});
        EXPECT_EQ(knocker.WaitForExit(20s), 0);
        EXPECT_TRUE(listener->WaitForKnock(20s));
        EXPECT_FALSE(listener->WaitForKnock(20ms));  // one knock, one answer
    }
    // The window goes with its listener: nothing stale remains for the next start.
    EXPECT_FALSE(KnockOnRunningDialog(scope));
    EXPECT_NE(RunningDialogListener::Listen(scope), nullptr);
}

TEST(SingleInstance, ServingCallsBackForEveryKnockUntilStopped) {
    const std::string scope = FreshScope();
    const auto listener = RunningDialogListener::Listen(scope);
    ASSERT_NE(listener, nullptr);
    std::atomic<int> knocks{0};
    listener->StartServing([&knocks] { ++knocks; });
    EXPECT_TRUE(KnockOnRunningDialog(scope));
    test::HelperProcess knocker("knock", {scope});
    EXPECT_EQ(knocker.WaitForExit(20s), 0);
    EXPECT_EQ(knocks.load(), 2);  // each knock is answered after its callback
    listener->Stop();
    EXPECT_TRUE(KnockOnRunningDialog(scope));
    EXPECT_EQ(knocks.load(), 2);
    EXPECT_TRUE(listener->WaitForKnock(20s));  // kept for a waiter once serving stopped
}

}  // namespace
}  // namespace veldmoor
