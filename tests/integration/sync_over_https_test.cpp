// Synchronises through a real nginx over https with HTTP/2 (ALPN), trusting the server's own
// self-signed certificate through the CA file setting: the requests of many files share the
// run's few connections as streams, and without the certificate the run fails with a transfer
// error that names it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "sync/patch_exception.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/process_runner.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

class SyncOverHttps : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(repo()); }

    std::string source() const { return work_ / "source"; }
    std::string repo() const { return web_ / "game"; }
    std::string install() const { return work_ / "install"; }

    // A tree of many small files, so that far more requests than connections are wanted.
    void writeTree(std::uint32_t seed) {
        for (int i = 0; i < 120; ++i) {
            WriteTestFile(source() + "/data/part" + std::to_string(i) + ".bin",
                          RandomBytes(2000 + (i * 37), seed + static_cast<std::uint32_t>(i)));
        }
        WriteTestFile(source() + "/client.exe", RandomBytes(300000, seed));
        Publish(source(), repo(), {"--block-size", "1024"});
    }

    HttpSettings settings() const {
        HttpSettings settings;
        settings.connections = 2;
        settings.caFile = nginx_->caFile();
        return settings;
    }

    // The run must leave the installation equal to the source, over HTTP/2 alone, with more
    // requests on the wire than connections and no more connections than allowed.
    void syncAndCheck() {
        nginx_->clearRequests();
        const SyncOutcome outcome = SyncFolder(install(), nginx_->address("game"), settings());
        EXPECT_TRUE(ReadTree(install()) == ReadTree(source())) << "installation differs";
        EXPECT_GT(outcome.peakInFlight, settings().connections);
        const auto served = nginx_->requests();
        ASSERT_FALSE(served.empty());
        std::set<std::uint64_t> connections;
        for (const auto& r : served) {
            EXPECT_EQ(r.protocol, "HTTP/2.0") << r.uri;
            connections.insert(r.connection);
        }
        EXPECT_LE(connections.size(), settings().connections);
        EXPECT_GT(served.size(), connections.size());
    }

    TempDir work_{"veldmoor-it"};
    TempDir web_{"veldmoor-web"};
    std::unique_ptr<NginxServer> nginx_ =
        std::make_unique<NginxServer>(web_.path(), NginxTransport::Https2);
};

TEST_F(SyncOverHttps, FreshAndChangedTreeShareTheConnectionsAsStreams) {
    writeTree(1);
    syncAndCheck();
    // Every tenth file and the large one change; the rest stay.
    for (int i = 0; i < 120; i += 10) {
        WriteTestFile(source() + "/data/part" + std::to_string(i) + ".bin",
                      RandomBytes(2500, 900 + static_cast<std::uint32_t>(i)));
    }
    std::string client = ReadTestFile(source() + "/client.exe");
    client.replace(100000, 4000, RandomBytes(4000, 77));
    WriteTestFile(source() + "/client.exe", client);
    Publish(source(), repo(), {"--block-size", "1024"});
    syncAndCheck();
}

TEST_F(SyncOverHttps, UntrustedCertificateIsATransferErrorNamingIt) {
    writeTree(2);
    HttpSettings untrusted = settings();
    untrusted.caFile.clear();
    try {
        SyncFolder(install(), nginx_->address("game"), untrusted);
        FAIL() << "the run trusted a certificate no authority signed";
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 1);
        EXPECT_NE(std::string(e.what()).find("certificate could not be verified"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(fs::exists(install() + "/client.exe"));
}

TEST_F(SyncOverHttps, CommandLineTakesTheCaFile) {
    writeTree(3);
    const auto without = RunProgram(SyncProgram(), {install(), nginx_->address("game")});
    EXPECT_EQ(without.exitCode, 1) << without.output;
    EXPECT_NE(without.output.find("--ca-file"), std::string::npos) << without.output;
    const auto with = RunProgram(
        SyncProgram(), {"--ca-file", nginx_->caFile(), install(), nginx_->address("game")});
    EXPECT_EQ(with.exitCode, 0) << with.output;
    EXPECT_TRUE(ReadTree(install()) == ReadTree(source())) << "installation differs";
}

}  // namespace
}  // namespace veldmoor::test
