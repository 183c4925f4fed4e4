// The percentage and time-left texts beside the progress bar.
#include <gtest/gtest.h>

#include "ui/progress_texts.h"

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

TEST(ProgressTexts, TimeLeftIsReadFromTheSizeAndSpeedTexts) {
    // 17.12 MB at 1.84 MB/s: 9.3 s, rounded up.
    EXPECT_EQ(TimeLeftText("12.40MB/29.52MB", "1.84MB/s"), "noch 10 s");
    // 3 GB at 1 MB/s: 3072 s.
    EXPECT_EQ(TimeLeftText("0B/3.00GB", "1.00MB/s"), "noch 51:12 min");
    EXPECT_EQ(TimeLeftText("1.00KB/10.0GB", "1.00MB/s"), "noch 2:50 h");
    EXPECT_EQ(TimeLeftText("900B/1000B", "512.0KB/s"), "noch 1 s");
    EXPECT_EQ(TimeLeftText("10.00KB/1.00MB", "10.00KB/s"), "noch 1:42 min");
}

TEST(ProgressTexts, NoTimeLeftWithoutSomethingToCount) {
    EXPECT_EQ(TimeLeftText("12.40MB/29.52MB", "0B/s"), "");
    EXPECT_EQ(TimeLeftText("29.52MB/29.52MB", "1.84MB/s"), "");
    EXPECT_EQ(TimeLeftText("", ""), "");
    EXPECT_EQ(TimeLeftText("%SIZE%", "%SPEED%"), "");
    EXPECT_EQ(TimeLeftText("12.40XB/29.52MB", "1.84MB/s"), "");
    EXPECT_EQ(TimeLeftText("12.40MB/29.52MB", "1.84MB"), "");
    EXPECT_EQ(TimeLeftText("12.40MB", "1.84MB/s"), "");
}

}  // namespace
}  // namespace veldmoor
