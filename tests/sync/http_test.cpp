// The HTTP layer against the project's server on loopback.
#include "sync/http.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sync/range_receiver.h"
#include "sync_fixture.h"
#include "tools/serve/repo_server.h"

namespace veldmoor {
namespace {

class HttpTest : public ::testing::Test {
protected:
    HttpTest() : server_(RepoServerOptions{.root = root_.path()}) {}

    void SetUp() override {
        test::writeFile(root_ / "a b/file.txt", "0123456789");
        server_.start();
        // One answered request shows the server is accepting before any test stops it.
        std::stringstream ignored;
        ASSERT_TRUE(httpGet(server_.baseUrl() + "/", &appendToStringStream, &ignored, nullptr));
        server_.clearRequests();
    }

    test::TempFolder root_;
    RepoServer server_;
};

TEST_F(HttpTest, DeliversAnErrorPageAsABody) {
    std::stringstream body;
    EXPECT_TRUE(httpGet(server_.baseUrl() + "/missing.txt", &appendToStringStream, &body, nullptr));
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(server_.requests()[0].status, 404);
    EXPECT_FALSE(body.str().empty());  // the error page itself
}

TEST_F(HttpTest, EncodesThePathAndReusesTheCallersHandle) {
    CURL* handle = curl_easy_init();
    ASSERT_NE(handle, nullptr);
    for (int i = 0; i < 2; ++i) {
        std::stringstream body;
        ASSERT_TRUE(
            httpGet(server_.baseUrl() + "//a b\\file.txt", &appendToStringStream, &body, handle));
        EXPECT_EQ(body.str(), "0123456789");
    }
    curl_easy_cleanup(handle);
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "//a%20b/file.txt");
}

TEST_F(HttpTest, MakesNoRequestForNoRanges) {
    std::stringstream target;
    RangeReceiver receiver(target, {}, nullptr, "a b/file.txt");
    EXPECT_TRUE(httpGetRanges(server_.baseUrl() + "/a b/file.txt", receiver, nullptr).ok);
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(HttpTest, AWholeFileRequestAfterRangesOnTheSameHandleAsksForNoRange) {
    CURL* handle = curl_easy_init();
    ASSERT_NE(handle, nullptr);
    std::stringstream target;
    Piece piece;
    piece.targetOffset = 2;
    piece.length = 3;
    piece.kind = kPieceDownload;
    RangeReceiver receiver(target, {piece}, nullptr, "a b/file.txt");
    ASSERT_TRUE(httpGetRanges(server_.baseUrl() + "/a b/file.txt", receiver, handle).ok);
    std::stringstream body;
    ASSERT_TRUE(httpGet(server_.baseUrl() + "/a b/file.txt", &appendToStringStream, &body, handle));
    curl_easy_cleanup(handle);

    EXPECT_EQ(body.str(), "0123456789");
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=2-4");
    EXPECT_EQ(requests[1].range, "");
}

TEST_F(HttpTest, ADocumentCountsOnlyAsAWholeAnswerWithStatus200) {
    std::string body;
    const HttpResult found = fetchDocument(server_.baseUrl() + "/a b/file.txt", body, nullptr);
    EXPECT_TRUE(found.ok) << found.cause;
    EXPECT_EQ(body, "0123456789");

    const HttpResult missing = fetchDocument(server_.baseUrl() + "/missing.txt", body, nullptr);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.cause, "the server answered status 404");
    EXPECT_EQ(body, "");  // the error page is not handed on
}

TEST_F(HttpTest, RefusesSchemesOtherThanHttpAndHttps) {
    CURL* handle = curl_easy_init();
    ASSERT_NE(handle, nullptr);
    HttpSession session;
    configureHandle(handle, session);
    std::string body;
    const HttpResult local = fetchDocument("file://" + root_ / "a b/file.txt", body, handle);
    curl_easy_cleanup(handle);
    EXPECT_FALSE(local.ok);
    EXPECT_NE(local.cause.find("'file://"), std::string::npos) << local.cause;
    EXPECT_NE(local.cause.find("is not an http or https address"), std::string::npos)
        << local.cause;
    EXPECT_EQ(body, "");
}

TEST(ByteRate, ReadsPlainNumbersAndKAndMSuffixes) {
    std::int64_t rate = 0;
    EXPECT_TRUE(parseByteRate("125000", rate));
    EXPECT_EQ(rate, 125000);
    EXPECT_TRUE(parseByteRate("500k", rate));
    EXPECT_EQ(rate, 500 * 1024);
    EXPECT_TRUE(parseByteRate("2M", rate));
    EXPECT_EQ(rate, 2 * 1024 * 1024);
    for (const char* wrong : {"", "k", "-5", "5 k", "5G", "99999999999999999999"}) {
        EXPECT_FALSE(parseByteRate(wrong, rate)) << wrong;
    }
}

TEST_F(HttpTest, ReportsAServerThatCannotBeReached) {
    server_.stop();
    std::stringstream body;
    EXPECT_FALSE(
        httpGet(server_.baseUrl() + "/a b/file.txt", &appendToStringStream, &body, nullptr));
}

}  // namespace
}  // namespace veldmoor
