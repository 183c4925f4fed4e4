// Publishes corpora with veldmoor-publish and synchronises them with the engine through the
// web servers and caches worlds really use, each started from its Debian package on loopback:
// lighttpd (answers at most 10 parts), Apache httpd (merges ranges) and Varnish in front of
// nginx (refuses several ranges with 416). Pass: the installation equals the source, and the
// server sent less than twice what the plan needs, by its own count.
#include <gtest/gtest.h>

#include <filesystem>

#include "system/file_time.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/process_runner.h"
#include "tests/support/web_servers.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

class SyncThroughWebServer : public ::testing::TestWithParam<WebServerKind> {
protected:
    void SetUp() override {
        fs::create_directories(repo());
        server_ = StartWebServer(GetParam(), web_.path());
    }

    std::string source() const { return work_ / "source"; }
    std::string repo() const { return web_ / "game"; }
    std::string install() const { return work_ / "install"; }

    void write(const std::string& path, const std::string& content) {
        WriteTestFile(source() + "/" + path, content);
    }
    void publish() { Publish(source(), repo(), {"--block-size", "1024"}); }

    // One run through the server: the installation must equal the source afterwards, and the
    // server must have sent less than twice what the plan needed (the ranges planned plus the
    // file list and the indexes of the examined files).
    SyncOutcome syncAndCheck() {
        server_->clearRequests();
        const SyncOutcome outcome = SyncFolder(install(), server_->address("game"));
        EXPECT_TRUE(ReadTree(install()) == ReadTree(source()))
            << "installation differs from source";
        for (const auto& [path, time] : ListedTimes(repo())) {
            EXPECT_EQ(LastWriteTime(install() + "/" + path), time) << path;
        }
        std::uint64_t needed = outcome.planned + fs::file_size(repo() + "/filelist.php");
        for (const auto& path : outcome.examined) {
            needed += fs::file_size(repo() + "/transfer/" + path + ".chunks");
        }
        std::uint64_t sent = 0;
        served_ = server_->requests();
        for (const auto& r : served_) {
            sent += r.bytesSent;
        }
        EXPECT_LT(sent, 2 * needed) << "planned " << outcome.planned;
        return outcome;
    }

    std::vector<LoggedRequest> transfersOf(const std::vector<LoggedRequest>& all,
                                           const std::string& name) const {
        std::vector<LoggedRequest> found;
        for (const auto& r : all) {
            if (r.uri.ends_with("/transfer/" + name)) {
                found.push_back(r);
            }
        }
        return found;
    }

    TempDir work_{"veldmoor-it"};
    TempDir web_{"veldmoor-web"};
    std::unique_ptr<WebServer> server_;
    std::vector<LoggedRequest> served_;  // what the server logged for the last syncAndCheck
};

TEST_P(SyncThroughWebServer, FreshInstall) {
    write("client.exe", RandomBytes(150000, 1));
    write("data/art.mul", RandomBytes(2'000'000, 2));
    write("Mit Leerzeichen/Grüße aus Veldmoor.txt", "Hallo Welt\n");
    for (int i = 0; i < 10; ++i) {
        write("small/f" + std::to_string(i) + ".bin",
              RandomBytes(1000 + static_cast<std::size_t>(i) * 2000, 10 + i));
    }
    publish();
    const SyncOutcome outcome = syncAndCheck();
    EXPECT_EQ(outcome.rebuilt.size(), 13u);
}

TEST_P(SyncThroughWebServer, ChangedLargeFileNeedingMoreRangesThanOneRequestCarries) {
    std::string content = RandomBytes(2'000'000, 3);
    write("data/big.mul", content);
    publish();
    SyncFolder(install(), server_->address("game"));
    // 80 blocks changed with clean blocks between them: 80 ranges, more than lighttpd answers
    // at once and more than one request carries.
    for (int i = 0; i < 80; ++i) {
        const std::size_t at = static_cast<std::size_t>(i) * 24 * 1024 + 100;
        content[at] = static_cast<char>(content[at] ^ 0x21);
    }
    write("data/big.mul", content);
    publish();
    const SyncOutcome outcome = syncAndCheck();
    EXPECT_EQ(outcome.planned, 80u * 1024u);
    EXPECT_EQ(outcome.downloaded, outcome.planned);

    // Each server's own way of answering was met, not avoided.
    const auto transfers = transfersOf(served_, "data/big.mul");
    ASSERT_FALSE(transfers.empty());
    const auto ranges = [](const LoggedRequest& r) {
        return static_cast<std::size_t>(std::count(r.range.begin(), r.range.end(), ',')) + 1;
    };
    if (GetParam() != WebServerKind::VarnishBeforeNginx) {
        // (varnishncsa cuts a logged header short, so its range lists cannot be counted.)
        EXPECT_EQ(ranges(transfers.front()), 35u) << transfers.front().range;
    }
    if (GetParam() == WebServerKind::Lighttpd) {
        // 10 parts answered of 35; then 10 at a time.
        EXPECT_EQ(transfers.size(), 8u);
        EXPECT_EQ(ranges(transfers.back()), 10u);
    } else if (GetParam() == WebServerKind::VarnishBeforeNginx) {
        // Several ranges refused; then one range per request.
        EXPECT_EQ(transfers.front().status, 416);
        EXPECT_EQ(ranges(transfers.back()), 1u);
        EXPECT_EQ(transfers.back().status, 206);
    } else {
        EXPECT_EQ(transfers.size(), 3u);  // 35, 35, 10
    }
}

TEST_P(SyncThroughWebServer, ShiftedFile) {
    std::string content = RandomBytes(300000, 4);
    write("shifted.bin", content);
    publish();
    SyncFolder(install(), server_->address("game"));
    content.insert(5000, RandomBytes(100, 5));
    write("shifted.bin", content);
    publish();
    const SyncOutcome outcome = syncAndCheck();
    EXPECT_LE(outcome.planned, 2u * 1024u);
}

TEST_P(SyncThroughWebServer, Tree) {
    for (int i = 0; i < 30; ++i) {
        write("tree/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".bin",
              RandomBytes(1000 + static_cast<std::size_t>(i) * 650, 100 + i));
    }
    publish();
    SyncFolder(install(), server_->address("game"));
    for (int i = 0; i < 30; i += 7) {
        write("tree/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".bin",
              RandomBytes(1000 + static_cast<std::size_t>(i) * 650, 200 + i));
    }
    write("tree/new/added.bin", RandomBytes(5000, 300));
    publish();
    const SyncOutcome outcome = syncAndCheck();
    EXPECT_EQ(outcome.rebuilt.size(), 6u);
}

INSTANTIATE_TEST_SUITE_P(RealServers, SyncThroughWebServer,
                         ::testing::Values(WebServerKind::Lighttpd, WebServerKind::Apache,
                                           WebServerKind::VarnishBeforeNginx),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

}  // namespace
}  // namespace veldmoor::test
