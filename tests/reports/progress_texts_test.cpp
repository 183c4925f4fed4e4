// The percentage and time-left texts beside the progress bar, and the time left as the window's
// presenter follows a run's byte counts and rate.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/progress_texts.h"
#include "ui/run_presenter.h"
#include "ui/run_screen.h"

namespace veldmoor {
namespace {

TEST(ProgressTexts, PercentIsRoundedDownAndStaysWithinTheBar) {
    EXPECT_EQ(PercentText(0, 1000), "0 %");
    EXPECT_EQ(PercentText(420, 1000), "42 %");
    EXPECT_EQ(PercentText(999, 1000), "99 %");
    EXPECT_EQ(PercentText(1000, 1000), "100 %");
    EXPECT_EQ(PercentText(1200, 1000), "100 %");
    EXPECT_EQ(PercentText(-5, 1000), "0 %");
    EXPECT_EQ(PercentText(5, 0), "");
}

struct TimeLeftCase {
    std::uint64_t done;
    std::uint64_t total;
    std::uint64_t bytesPerSecond;
    const char* expected;
};

class TimeLeft : public ::testing::TestWithParam<TimeLeftCase> {};

TEST_P(TimeLeft, IsComputedFromTheBytesLeftAndTheRate) {
    const TimeLeftCase& c = GetParam();
    EXPECT_EQ(TimeLeftText(c.done, c.total, c.bytesPerSecond), c.expected);
}

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;
constexpr std::uint64_t kGiB = 1024 * kMiB;

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeLeft,
    ::testing::Values(
        // "12.40MB/29.52MB" at "1.84MB/s": 9.3 s, rounded up.
        TimeLeftCase{13002342, 30953963, 1929380, "noch 10 s"},
        TimeLeftCase{0, 3 * kGiB, kMiB, "noch 51:12 min"},  // 3072 s
        TimeLeftCase{kKiB, 10 * kGiB, kMiB, "noch 2:50 h"},
        TimeLeftCase{900, 1000, 512 * kKiB, "noch 1 s"},  // never "noch 0 s"
        TimeLeftCase{10 * kKiB, kMiB, 10 * kKiB, "noch 1:42 min"},
        // Nothing to count on: no rate, nothing left, a counter past its total.
        TimeLeftCase{13002342, 30953963, 0, ""}, TimeLeftCase{30953963, 30953963, 1929380, ""},
        TimeLeftCase{7, 5, 1, ""}));

// Keeps only what the time left depends on.
class TimeLeftScreen : public RunScreen {
public:
    std::vector<std::string> shown;

    void SetTimeLeftText(const std::string& text) override { shown.push_back(text); }
    void ClearStatusText() override {}
    void AppendStatusText(const std::string&) override {}
    void AppendStatusLine(const std::string&) override {}
    void AppendStatusBreak() override {}
    void EnterPatchingLayout() override {}
    void LeavePatchingLayout() override {}
    void SetProgressPosition(int) override {}
    void SetSizeText(const std::string&) override {}
    void SetSpeedText(const std::string&) override {}
    void ShowTransferTexts(bool) override {}
    void ShowRunControls(RunControls) override {}
    void SetAutoStartCaption(const std::string&) override {}
    void EnableProfileSelector(bool) override {}
    void EndDialog(int) override {}
    PromptAnswer ShowMessage(const std::string&, const std::string&, PromptButtons,
                             PromptIcon) override {
        return PromptAnswer::Ok;
    }
    std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

TEST(PresentedTimeLeft, NeedsBytesAndARateOfTheSameTransfersAndFollowsBoth) {
    TimeLeftScreen screen;
    RunPresenter presenter(screen);
    presenter.Report(TransfersStarted{0, 10 * kMiB});
    presenter.Report(TransferRate{kMiB});  // no bytes yet
    presenter.Report(TransferProgressed{2 * kMiB, 10 * kMiB});
    presenter.Report(TransferRate{2 * kMiB});
    presenter.Report(TransferProgressed{6 * kMiB, 10 * kMiB});
    // A pause starts the transfers again: the old rate says nothing of the new ones.
    presenter.Report(TransfersStarted{6 * kMiB, 10 * kMiB});
    presenter.Report(TransferProgressed{7 * kMiB, 10 * kMiB});
    EXPECT_EQ(screen.shown,
              (std::vector<std::string>{"", "", "noch 8 s", "noch 4 s", "noch 2 s", "", ""}));
}

}  // namespace
}  // namespace veldmoor
