#include "profiles/patch_context.h"

#include <gtest/gtest.h>

#include <string>

namespace veldmoor {
namespace {

TEST(BoundedString, EveryAssignmentTruncatesToTheLimit) {
    BoundedString<4> text("abcdef");
    EXPECT_EQ(text, "abcd");
    text = std::string("123456");
    EXPECT_EQ(text, "1234");
    text = "ab";
    EXPECT_EQ(text, "ab");
    PatchContext context;
    context.Name = std::string(300, 'n');
    context.ExecuteAfterPatch = std::string(300, 'e');
    EXPECT_EQ(context.Name.size(), kProfileNameLimit);
    EXPECT_EQ(context.ExecuteAfterPatch.size(), kProfilePathLimit);
}

TEST(BoundedString, CutNeverSplitsAUtf8Character) {
    BoundedString<4> text("abäö");  // "abäö": the cut falls inside 'ö'
    EXPECT_EQ(text, "abä");
    text = "abc€";  // the euro sign does not fit at all
    EXPECT_EQ(text, "abc");
    text = "a€b";
    EXPECT_EQ(text, "a€");
}

TEST(BoundedString, StopsAtAnEmbeddedNul) {
    BoundedString<10> text(std::string("ab\0cd", 5));
    EXPECT_EQ(text, "ab");
}

}  // namespace
}  // namespace veldmoor
