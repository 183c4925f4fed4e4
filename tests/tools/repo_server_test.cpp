// The repository server spoken to with a plain HTTP client, header by header.
#include "tools/serve/repo_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <chrono>
#include <thread>

#include "tests/support/served_repository.h"
#include "tests/support/temp_dir.h"

namespace veldmoor::test {
namespace {

std::string Gunzip(const std::string& packed) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

class RepoServerTest : public ::testing::Test {
protected:
    RepoServerTest() {
        for (int i = 0; i < 1000; ++i) {
            content_ += static_cast<char>('A' + i % 26);
        }
        WriteTestFile(root_ / "game/transfer/data/a b.mul", content_);
        WriteTestFile(root_ / "game/transfer/Grüße.txt", "hallo");
        WriteTestFile(root_ / "game/filelist.php", std::string(2000, 'x'));
    }

    httplib::Client client() {
        httplib::Client c("127.0.0.1", served_.server().port());
        c.set_decompress(false);
        return c;
    }

    TempDir root_{"veldmoor-serve"};
    ServedRepository served_{root_.path()};
    std::string content_;
};

TEST_F(RepoServerTest, SingleRangeIsTheRawBytesWithContentRange) {
    auto c = client();
    const auto res = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=10-19"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 206);
    EXPECT_EQ(res->body, content_.substr(10, 10));
    EXPECT_EQ(res->get_header_value("Content-Range"), "bytes 10-19/1000");
}

TEST_F(RepoServerTest, SeveralRangesAreMultipartPartsInTheOrderAsked) {
    auto c = client();
    const auto res = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=500-509,0-4"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 206);
    const std::string type = res->get_header_value("Content-Type");
    const auto at = type.find("; boundary=");
    ASSERT_NE(at, std::string::npos) << type;
    const std::string delimiter = "--" + type.substr(at + 11);
    const std::string& body = res->body;
    const auto first = body.find(delimiter);
    const auto second = body.find(delimiter, first + 1);
    const auto closing = body.find(delimiter + "--");
    ASSERT_NE(second, std::string::npos);
    EXPECT_EQ(closing, body.find(delimiter, second + 1));
    const auto firstData = body.find("\r\n\r\n", first) + 4;
    EXPECT_EQ(body.substr(firstData, 10), content_.substr(500, 10));
    EXPECT_NE(body.substr(first, firstData - first).find("Content-Range: bytes 500-509/1000"),
              std::string::npos);
    const auto secondData = body.find("\r\n\r\n", second) + 4;
    EXPECT_EQ(body.substr(secondData, 5), content_.substr(0, 5));
    EXPECT_EQ(body.substr(secondData + 5, 2), "\r\n");
}

TEST_F(RepoServerTest, WholeAnswersAreGzippedOnlyWhenAcceptedAndRangedOnesNever) {
    auto c = client();
    const auto packed = c.Get("/game/filelist.php", {{"Accept-Encoding", "deflate, gzip"}});
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->get_header_value("Content-Encoding"), "gzip");
    EXPECT_EQ(Gunzip(packed->body), std::string(2000, 'x'));

    const auto plain = c.Get("/game/filelist.php");
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->has_header("Content-Encoding"));
    EXPECT_EQ(plain->body, std::string(2000, 'x'));

    const auto ranged = c.Get("/game/transfer/data/a%20b.mul",
                              {{"Accept-Encoding", "gzip"}, {"Range", "bytes=0-99"}});
    ASSERT_TRUE(ranged);
    EXPECT_FALSE(ranged->has_header("Content-Encoding"));
    EXPECT_EQ(ranged->body, content_.substr(0, 100));
}

TEST_F(RepoServerTest, DoubledSlashesAndPercentEncodingReachTheFile) {
    auto c = client();
    const auto res = c.Get("/game//transfer/Gr%C3%BC%C3%9Fe.txt");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, "hallo");
    const auto log = served_.server().requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].target, "/game//transfer/Gr%C3%BC%C3%9Fe.txt");
    EXPECT_EQ(log[0].path, "/game/transfer/Grüße.txt");

    EXPECT_EQ(served_.server().takeRequests().size(), 1u);
    EXPECT_TRUE(served_.server().requests().empty());
}

TEST_F(RepoServerTest, PathsLeavingTheRootAreRefused) {
    WriteTestFile(root_.path() + "-secret", "secret");
    auto c = client();
    for (const char* path : {"/game/../../secret", "/game/%2e%2e/%2e%2e/x", "/game/..%5C..%5Cx"}) {
        const auto res = c.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 400) << path;
    }
    const auto missing = c.Get("/game/transfer/none");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    const auto folder = c.Get("/game/transfer");
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->status, 404);
}

TEST_F(RepoServerTest, RangeOutsideTheFileIs416) {
    auto c = client();
    const auto res = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=5000-6000"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 416);
    EXPECT_EQ(res->get_header_value("Content-Range"), "bytes */1000");
}

TEST_F(RepoServerTest, IgnoreRangeAndDropBoundaryFaults) {
    auto c = client();
    ServerFaults faults;
    faults.ignoreRange = true;
    served_.server().setFaults(faults);
    const auto whole = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=0-9,20-29"}});
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->body, content_);

    faults = {};
    faults.dropBoundary = true;
    served_.server().setFaults(faults);
    const auto bare = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=0-9,20-29"}});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->get_header_value("Content-Type"), "multipart/byteranges");

    // Faults touch ranged answers only, unless asked otherwise.
    const auto list = c.Get("/game/filelist.php");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 200);
}

TEST_F(RepoServerTest, CloseAfterBytesEndsTheAnswerShort) {
    ServerFaults faults;
    faults.closeAfterBytes = 100;
    served_.server().setFaults(faults);
    auto c = client();
    const auto res = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=0-499"}});
    // The client sees a broken answer: no result, or a body shorter than announced.
    EXPECT_TRUE(!res || res->body.size() < 500);
    served_.server().clearFaults();
    const auto healed = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=0-499"}});
    ASSERT_TRUE(healed);
    EXPECT_EQ(healed->body, content_.substr(0, 500));
}

TEST_F(RepoServerTest, StallDelaysTheAnswerAndStopEndsItAtOnce) {
    ServerFaults faults;
    faults.stall = std::chrono::milliseconds(300);
    served_.server().setFaults(faults);
    auto c = client();
    const auto start = std::chrono::steady_clock::now();
    const auto res = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=0-9"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, content_.substr(0, 10));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));

    faults.stall = std::chrono::hours(1);
    served_.server().setFaults(faults);
    std::thread stalled([&] {
        auto other = client();
        other.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=0-9"}});
    });
    while (served_.server().requests().size() < 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto stopping = std::chrono::steady_clock::now();
    served_.server().stop();
    stalled.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::seconds(10));
}

TEST(RepoServer, RefusesAMissingRoot) {
    RepoServer server(RepoServerOptions{"/nonexistent/veldmoor-root"});
    EXPECT_THROW(server.start(), std::runtime_error);
}

}  // namespace
}  // namespace veldmoor::test

namespace veldmoor::test {
namespace {

TEST(RepoServerContentType, FileListIsTextAndOtherPagesAreHtml) {
    TempDir root{"veldmoor-serve-types"};
    WriteTestFile(root / "srv/filelist.php", "{ path: \"a\", time: \"1\" }");
    WriteTestFile(root / "html/launcher.php", "<html><body>News</body></html>");
    WriteTestFile(root / "srv/transfer/a", "data");
    ServedRepository served{root.path()};
    httplib::Client client("127.0.0.1", served.server().port());
    const auto list = client.Get("/srv/filelist.php");
    const auto news = client.Get("/html/launcher.php");
    const auto file = client.Get("/srv/transfer/a");
    ASSERT_TRUE(list && news && file);
    EXPECT_EQ(list->get_header_value("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(news->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(file->get_header_value("Content-Type"), "application/octet-stream");
}

}  // namespace
}  // namespace veldmoor::test
