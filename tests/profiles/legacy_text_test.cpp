#include "profiles/legacy_text.h"

#include <gtest/gtest.h>

namespace veldmoor {
namespace {

TEST(LegacyText, Utf8IsKeptAsItIs) {
    EXPECT_EQ(LegacyTextToUtf8("M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x8E\xAE"),
              "M\xC3\xBCller \xE2\x82\xAC \xF0\x9F\x8E\xAE");
    EXPECT_EQ(LegacyTextToUtf8("plain"), "plain");
}

TEST(LegacyText, Windows1252IsConverted) {
    EXPECT_EQ(LegacyTextToUtf8("M\xFCller"), "M\xC3\xBCller");
    EXPECT_EQ(LegacyTextToUtf8("\x80\x9F\xA0\xFF"), "\xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xBF");
    EXPECT_EQ(LegacyTextToUtf8("\x81"), "\xC2\x81");  // unassigned: the C1 control
}

TEST(LegacyText, RejectsMalformedUtf8) {
    EXPECT_FALSE(IsValidUtf8("\xC3"));              // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));
}

}  // namespace
}  // namespace veldmoor
