// The repository server spoken to with a plain HTTP client, header by header.
#include "tools/serve/repo_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/support/gunzip.h"
#include "tests/support/served_repository.h"
#include "tests/support/temp_dir.h"

namespace veldmoor::test {
namespace {

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

TEST_F(RepoServerTest, ALargerFileIsCompressedWholeAcrossManyBlocks) {
    std::string text;
    for (int i = 0; text.size() < (3u << 20); ++i) {
        text += "entry " + std::to_string(i * 7919 % 100003) + "\n";
    }
    WriteTestFile(root_ / "game/transfer/big.txt", text);
    auto c = client();
    const auto res = c.Get("/game/transfer/big.txt", {{"Accept-Encoding", "gzip"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->get_header_value("Content-Encoding"), "gzip");
    EXPECT_LT(res->body.size(), text.size() / 2);
    EXPECT_TRUE(Gunzip(res->body) == text);
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
    std::filesystem::remove(root_.path() + "-secret");
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

// A connection that says nothing, as an idle browser tab or an attacker keeps one.
class SilentConnection {
public:
    // `from`: the loopback address to connect from, so that the server sees another client.
    explicit SilentConnection(int port, const char* from = nullptr)
        : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        const bool bound = from == nullptr || (::inet_pton(AF_INET, from, &source.sin_addr) == 1 &&
                                               ::bind(socket_, reinterpret_cast<sockaddr*>(&source),
                                                      sizeof source) == 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = socket_ >= 0 && bound &&
                     ::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SilentConnection() {
        if (socket_ >= 0) {
            ::close(socket_);
        }
    }
    SilentConnection(const SilentConnection&) = delete;
    SilentConnection& operator=(const SilentConnection&) = delete;
    bool connected() const { return connected_; }
    // Sends part of a request line and nothing more, as a slow client does.
    bool sendPart(const std::string& text) const {
        return ::send(socket_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // True when the server closes the connection within `deadline` (an answer it sends
    // first, such as a 408 or 400 for a request cut short, is read past).
    bool closedBy(std::chrono::seconds deadline) const {
        timeval wait{static_cast<time_t>(deadline.count()), 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[512];
        while (true) {
            const ssize_t n = ::recv(socket_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno == ECONNRESET)) {
                return true;
            }
            if (n < 0) {
                ADD_FAILURE() << "recv: " << std::strerror(errno);
                return false;
            }
        }
    }

private:
    int socket_;
    bool connected_ = false;
};

TEST_F(RepoServerTest, IdleAndSlowConnectionsDoNotKeepOthersWaiting) {
    std::vector<std::unique_ptr<SilentConnection>> idle;
    for (int i = 0; i < 24; ++i) {
        idle.push_back(std::make_unique<SilentConnection>(served_.server().port()));
        ASSERT_TRUE(idle.back()->connected());
        if (i % 2 == 1) {
            ASSERT_TRUE(idle.back()->sendPart("GET /game/filelist.php HT"));
        }
    }
    // Well before an idle connection times out, a real request is answered.
    auto c = client();
    c.set_connection_timeout(std::chrono::seconds(3));
    c.set_read_timeout(std::chrono::seconds(3));
    const auto res = c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=0-9"}});
    ASSERT_TRUE(res) << "no answer while silent connections were open";
    EXPECT_EQ(res->body, content_.substr(0, 10));
}

TEST(RepoServerSlowReaders, ClientsThatReadNothingHoldABoundedShareWhileOthersAreServed) {
    TempDir root{"veldmoor-serve-slow"};
    WriteTestFile(root / "big.bin", "");
    std::filesystem::resize_file(root / "big.bin", 64u << 20);
    WriteTestFile(root / "filelist.php", "listed");
    RepoServer server(RepoServerOptions{root.path()});
    StartServing(server);
    // More connections than the server has threads, from one client that never reads.
    constexpr std::size_t kStuck = 150;
    std::vector<std::unique_ptr<SilentConnection>> stuck;
    for (std::size_t i = 0; i < kStuck; ++i) {
        stuck.push_back(std::make_unique<SilentConnection>(server.port(), "127.0.0.2"));
        ASSERT_TRUE(stuck.back()->connected()) << i;
        ASSERT_TRUE(stuck.back()->sendPart("GET /big.bin HTTP/1.1\r\nHost: x\r\n\r\n"));
    }

    // Another client is answered at once: a stuck answer holds its thread for the write
    // time-out, so a server whose threads they all held would not answer within it.
    httplib::Client c("127.0.0.1", server.port());
    c.set_connection_timeout(std::chrono::seconds(5));
    c.set_read_timeout(std::chrono::seconds(5));
    const auto res = c.Get("/filelist.php");
    ASSERT_TRUE(res) << "no answer while " << kStuck << " clients read nothing";
    EXPECT_EQ(res->body, "listed");

    // Every stuck request was answered too, most of them with a quick refusal, none of them
    // waiting for a thread.
    std::size_t sending = 0;
    std::size_t refused = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sending + refused < kStuck && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (const auto& request : server.takeRequests()) {
            if (request.client == "127.0.0.2") {
                (request.status == 503 ? refused : sending) += 1;
            }
        }
    }
    EXPECT_EQ(sending + refused, kStuck);
    EXPECT_LT(sending, kStuck / 4) << "answers held for one client that reads nothing";
}

TEST(RepoServerTimeouts, ASilentConnectionIsClosedAfterTheIdleTime) {
    TempDir root{"veldmoor-serve-idle"};
    WriteTestFile(root / "filelist.php", "x");
    RepoServerOptions options{root.path()};
    options.idleTimeout = std::chrono::seconds(1);
    RepoServer server(options);
    StartServing(server);
    const SilentConnection silent(server.port());
    ASSERT_TRUE(silent.connected());
    const SilentConnection slow(server.port());
    ASSERT_TRUE(slow.connected());
    ASSERT_TRUE(slow.sendPart("GET /filelist.php HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_TRUE(silent.closedBy(std::chrono::seconds(30)));
    EXPECT_TRUE(slow.closedBy(std::chrono::seconds(30)));
}

// The parts of a multipart answer: each part's Content-Range value and its bytes.
std::vector<std::pair<std::string, std::string>> Parts(const httplib::Result& res) {
    std::vector<std::pair<std::string, std::string>> parts;
    const std::string type = res->get_header_value("Content-Type");
    const auto at = type.find("; boundary=");
    if (at == std::string::npos) {
        return parts;
    }
    const std::string delimiter = "\r\n--" + type.substr(at + 11);
    const std::string& body = res->body;
    auto start = body.find(delimiter);
    while (start != std::string::npos && body.compare(start + delimiter.size(), 2, "--") != 0) {
        const auto headerEnd = body.find("\r\n\r\n", start);
        const auto next = body.find(delimiter, headerEnd);
        if (headerEnd == std::string::npos || next == std::string::npos) {
            break;
        }
        const std::string header = body.substr(start, headerEnd - start);
        const auto range = header.find("Content-Range: bytes ");
        const auto rangeEnd = header.find('\r', range + 2);
        parts.emplace_back(
            range == std::string::npos ? "" : header.substr(range + 21, rangeEnd - range - 21),
            body.substr(headerEnd + 4, next - headerEnd - 4));
        start = next;
    }
    return parts;
}

TEST_F(RepoServerTest, OverlappingAndAdjacentRangesAreMergedInTheOrderAsked) {
    auto c = client();
    const auto res =
        c.Get("/game/transfer/data/a%20b.mul", {{"Range", "bytes=600-699,650-749,750-759,0-9"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 206);
    const auto parts = Parts(res);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].first, "600-759/1000");
    EXPECT_EQ(parts[0].second, content_.substr(600, 160));
    EXPECT_EQ(parts[1].first, "0-9/1000");
    EXPECT_EQ(parts[1].second, content_.substr(0, 10));
}

TEST_F(RepoServerTest, ARangedAnswerNeverExceedsTheFileItServes) {
    auto c = client();
    std::string repeated = "bytes=0-";
    for (int i = 1; i < 1024; ++i) {
        repeated += ",0-";
    }
    const auto many = c.Get("/game/transfer/data/a%20b.mul", {{"Range", repeated}});
    ASSERT_TRUE(many);
    EXPECT_LE(many->body.size(), content_.size());
    EXPECT_TRUE(many->body == content_);

    // Overlaps that are not next to each other: answered as the whole file, as nginx does.
    std::string scattered = "bytes=0-599";
    for (int i = 0; i < 20; ++i) {
        scattered += ",900-909,0-599";
    }
    const auto overlapping = c.Get("/game/transfer/data/a%20b.mul", {{"Range", scattered}});
    ASSERT_TRUE(overlapping);
    EXPECT_EQ(overlapping->status, 200);
    EXPECT_LE(overlapping->body.size(), content_.size());
    EXPECT_TRUE(overlapping->body == content_);
}

TEST_F(RepoServerTest, TheLaunchersThirtyFiveDisjointRangesComeBackOneByOne) {
    std::string header = "bytes=";
    for (int i = 0; i < 35; ++i) {
        header += (i == 0 ? "" : ",") + std::to_string(i * 25) + "-" + std::to_string(i * 25 + 9);
    }
    auto c = client();
    const auto res = c.Get("/game/transfer/data/a%20b.mul", {{"Range", header}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 206);
    const auto parts = Parts(res);
    ASSERT_EQ(parts.size(), 35u);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].second, content_.substr(i * 25, 10)) << i;
    }
}

TEST_F(RepoServerTest, SymbolicLinksLeadingOutOfTheRootAreNotServed) {
    WriteTestFile(root_.path() + "-outside/secret.txt", "secret");
    WriteTestFile(root_.path() + "-outside/folder/inner.txt", "inner");
    namespace fs = std::filesystem;
    fs::create_symlink(root_.path() + "-outside/secret.txt", root_ / "game/transfer/secret.txt");
    fs::create_symlink(root_.path() + "-outside/folder", root_ / "game/transfer/folder");
    fs::create_symlink("data/a b.mul", root_ / "game/transfer/alias.mul");
    auto c = client();
    for (const char* path : {"/game/transfer/secret.txt", "/game/transfer/folder/inner.txt"}) {
        const auto res = c.Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_EQ(res->body.find("secret"), std::string::npos);
        EXPECT_EQ(res->body.find("inner"), std::string::npos);
    }
    const auto inside = c.Get("/game/transfer/alias.mul");
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->status, 200);
    EXPECT_TRUE(inside->body == content_);
    fs::remove_all(root_.path() + "-outside");
}

TEST(RepoServer, SaysWhyItCannotStart) {
    RepoServer missing(RepoServerOptions{"/nonexistent/veldmoor-root"});
    const Result<int> refused = missing.start();
    ASSERT_FALSE(refused.Ok());
    EXPECT_NE(refused.Message().find("'/nonexistent/veldmoor-root' does not exist"),
              std::string::npos)
        << refused.Message();

    // An address of no interface here (one kept for documentation) cannot be bound.
    const TempDir root{"veldmoor-serve-unbound"};
    RepoServer elsewhere(RepoServerOptions{root.path(), "192.0.2.1", 0});
    const Result<int> unbound = elsewhere.start();
    ASSERT_FALSE(unbound.Ok());
    EXPECT_NE(unbound.Message().find("Cannot listen on 192.0.2.1:0"), std::string::npos)
        << unbound.Message();
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
