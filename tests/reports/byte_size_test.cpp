#include "ui/byte_size.h"

#include <gtest/gtest.h>

namespace veldmoor {
namespace {

TEST(FormatByteSize, EveryRowOfTheTableAndItsEdges) {
    EXPECT_EQ(FormatByteSize(0), "0B");
    EXPECT_EQ(FormatByteSize(1023), "1023B");
    EXPECT_EQ(FormatByteSize(1024), "1.00KB");
    EXPECT_EQ(FormatByteSize(1536), "1.50KB");
    EXPECT_EQ(FormatByteSize(102399), "100.00KB");
    EXPECT_EQ(FormatByteSize(102400), "100.0KB");
    EXPECT_EQ(FormatByteSize(1048575), "1024.0KB");
    EXPECT_EQ(FormatByteSize(1048576), "1.00MB");
    EXPECT_EQ(FormatByteSize(104857599), "100.00MB");
    EXPECT_EQ(FormatByteSize(104857600), "100.0MB");
    EXPECT_EQ(FormatByteSize(1073741823), "1024.0MB");
    EXPECT_EQ(FormatByteSize(1073741824), "1.00GB");
    EXPECT_EQ(FormatByteSize(4294967295U), "4.00GB");
}

TEST(FormatByteSize, TotalsBeyondFourGigabytesStayInGigabytes) {
    EXPECT_EQ(FormatByteSize(4294967296ULL), "4.00GB");
    EXPECT_EQ(FormatByteSize(6442450944ULL), "6.00GB");  // not the 2.00GB a 32-bit count shows
}

}  // namespace
}  // namespace veldmoor
