#include <gtest/gtest.h>

#include "sync/http.h"

namespace veldmoor {
namespace {

TEST(EscapeUrl, LeavesAnAddressWithoutSchemeUnchanged) {
    EXPECT_EQ(escapeUrl("data\\a b.txt"), "data\\a b.txt");
}

TEST(EscapeUrl, EncodesPathSegmentsAndKeepsDoubledSlashes) {
    EXPECT_EQ(escapeUrl("http://example.org/srv//transfer/a b/c.txt"),
              "http://example.org/srv//transfer/a%20b/c.txt");
    EXPECT_EQ(escapeUrl("https://example.org/repo/"), "https://example.org/repo/");
    EXPECT_EQ(escapeUrl("http://h/d/grüß e+1%.txt"), "http://h/d/gr%C3%BC%C3%9F%20e%2B1%25.txt");
    EXPECT_EQ(escapeUrl("http://h/-._~"), "http://h/-._~");
}

TEST(EscapeUrl, LeavesTheAuthorityReachable) {
    EXPECT_EQ(escapeUrl("http://127.0.0.1:8080/repo//filelist.php"),
              "http://127.0.0.1:8080/repo//filelist.php");
    EXPECT_EQ(escapeUrl("http://[::1]:8080/a b"), "http://[::1]:8080/a%20b");
    EXPECT_EQ(escapeUrl("http://user@host:1/x"), "http://user@host:1/x");
    EXPECT_EQ(escapeUrl("http://host:1"), "http://host:1");
}

TEST(EscapeUrl, TreatsBackslashesAsSeparators) {
    EXPECT_EQ(escapeUrl("http://h:80\\repo\\sub dir\\f.txt"), "http://h:80/repo/sub%20dir/f.txt");
}

}  // namespace
}  // namespace veldmoor
