// The engine against a server that answers range and document requests the ways real servers,
// caches and wrong addresses do when they do not do what was asked.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "sync/patch_exception.h"
#include "system/file_time.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/misbehaving_server.h"
#include "tests/support/process_runner.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

constexpr int kChangedBlocks = 80;

class SyncAgainstMisbehavingServer : public ::testing::Test {
protected:
    // An installation of one file of 1024-byte blocks, and a new version with kChangedBlocks
    // separate blocks changed: more ranges than one request carries.
    void SetUp() override {
        v1_ = RandomBytes(400000, 31);
        WriteTestFile(work_ / "source/data/victim.bin", v1_);
        publish();
        sync(Misbehaviour{});
        v2_ = v1_;
        for (int i = 0; i < kChangedBlocks; ++i) {
            const std::size_t at = static_cast<std::size_t>(i) * 4 * 1024 + 9;
            v2_[at] = static_cast<char>(v2_[at] ^ 0x42);
        }
        WriteTestFile(work_ / "source/data/victim.bin", v2_);
        publish();
    }

    void publish() { Publish(work_ / "source", web_ / "game", {"--block-size", "1024"}); }

    // Retries without the pauses and time-outs a real link needs.
    static HttpSettings quick() {
        HttpSettings settings;
        settings.firstRetryPauseMs = 5;
        settings.stallSeconds = 1;
        return settings;
    }

    SyncOutcome sync(const Misbehaviour& misbehaviour, const std::string& folder = "game") {
        server_ = std::make_unique<MisbehavingServer>(web_.path(), misbehaviour);
        return SyncFolder(install(), server_->address(folder), quick(), &retries_);
    }

    std::string install() const { return work_ / "install"; }
    bool upToDate() const { return ReadTestFile(install() + "/data/victim.bin") == v2_; }

    std::vector<MisbehavingRequest> ranged() const {
        std::vector<MisbehavingRequest> found;
        for (const auto& r : server_->requests()) {
            if (!r.range.empty()) {
                found.push_back(r);
            }
        }
        return found;
    }

    static std::size_t rangesIn(const std::string& header) {
        return static_cast<std::size_t>(std::count(header.begin(), header.end(), ',')) + 1;
    }

    // The run fails with a transfer error whose diagnostic holds `cause`; the old file stays.
    void expectTransferFailure(const Misbehaviour& misbehaviour, int code, const std::string& cause,
                               const std::string& folder = "game") {
        try {
            sync(misbehaviour, folder);
            FAIL() << "the run succeeded against a misbehaving server";
        } catch (const PatchException& e) {
            EXPECT_EQ(e.category, 1) << e.what();
            EXPECT_EQ(e.code, code) << e.what();
            EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
        }
        EXPECT_TRUE(ReadTestFile(install() + "/data/victim.bin") == v1_) << "old file damaged";
    }

    TempDir work_{"veldmoor-it"};
    TempDir web_{"veldmoor-web"};
    std::unique_ptr<MisbehavingServer> server_;
    std::vector<std::string> retries_;
    std::string v1_;
    std::string v2_;
};

TEST_F(SyncAgainstMisbehavingServer, FewerPartsThanAskedOutOfOrderAfterAPreamble) {
    const SyncOutcome outcome =
        sync(Misbehaviour{.maxParts = 10, .reverseParts = true, .preamble = true});
    EXPECT_TRUE(upToDate());
    EXPECT_EQ(outcome.downloaded, kChangedBlocks * 1024u);
    const auto requests = ranged();
    ASSERT_EQ(requests.size(), 8u);  // 35 asked, 10 answered; then 10 at a time
    EXPECT_EQ(rangesIn(requests[0].range), 35u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(rangesIn(requests[i].range), 10u) << i;
    }
}

TEST_F(SyncAgainstMisbehavingServer, OneContentRangeForSeveralRanges) {
    const SyncOutcome outcome = sync(Misbehaviour{.oneContentRange = true});
    EXPECT_TRUE(upToDate());
    EXPECT_EQ(outcome.downloaded, kChangedBlocks * 1024u);
}

TEST_F(SyncAgainstMisbehavingServer, RefusedSeveralRangesFallBackToOneRangePerRequest) {
    const SyncOutcome outcome = sync(Misbehaviour{.refuseSeveralRanges = true});
    EXPECT_TRUE(upToDate());
    const auto requests = ranged();
    ASSERT_GE(requests.size(), static_cast<std::size_t>(kChangedBlocks));
    // Refused answers cost a few requests once; every other request has one range.
    EXPECT_LE(requests.size(), kChangedBlocks + 3u);
    EXPECT_EQ(requests[0].status, 416);
    EXPECT_EQ(rangesIn(requests.back().range), 1u);
}

TEST_F(SyncAgainstMisbehavingServer, ARefusedSingleRangeNamesTheRefusal) {
    expectTransferFailure(Misbehaviour{.statusOf = {{"/game/transfer/data/victim.bin", 416}}}, 4,
                          "the server refused the range request (status 416)");
}

TEST_F(SyncAgainstMisbehavingServer, TransientServerErrorsAreRetried) {
    sync(Misbehaviour{.failFirst = 2});
    EXPECT_TRUE(upToDate());
    ASSERT_EQ(retries_.size(), 2u);
    EXPECT_TRUE(retries_[0].starts_with("Verbindung unterbrochen, neuer Versuch")) << retries_[0];
}

TEST_F(SyncAgainstMisbehavingServer, AServerErrorThatLastsFailsTheRunNamingTheStatus) {
    expectTransferFailure(Misbehaviour{.failFirst = 1000}, 7, "status 503");
    EXPECT_EQ(retries_.size(), static_cast<std::size_t>(HttpSettings{}.retries));
}

TEST_F(SyncAgainstMisbehavingServer, AMissingFileListFailsTheRunNamingTheStatus) {
    expectTransferFailure(Misbehaviour{}, 7, "status 404", "elsewhere");
}

TEST_F(SyncAgainstMisbehavingServer, AMissingChunkIndexFailsTheRunNamingTheStatus) {
    expectTransferFailure(
        Misbehaviour{.statusOf = {{"/game/transfer/data/victim.bin.chunks", 403}}}, 0,
        "status 403");
}

TEST_F(SyncAgainstMisbehavingServer, ARedirectToAMirrorIsFollowed) {
    sync(Misbehaviour{}, "moved/game");
    EXPECT_TRUE(upToDate());
}

TEST_F(SyncAgainstMisbehavingServer, ARedirectToAnotherSchemeIsRefused) {
    WriteTestFile(work_ / "elsewhere/filelist.php", "{ path: \"x\", time: \"1\" }\n");
    expectTransferFailure(Misbehaviour{.redirectTo = "file://" + work_ / "elsewhere/"}, 7,
                          "Unsupported protocol", "moved");
}

TEST_F(SyncAgainstMisbehavingServer, AStallMidBodyEndsTheRunWithATransferError) {
    const auto started = std::chrono::steady_clock::now();
    expectTransferFailure(Misbehaviour{.stallAfterBytes = 50}, 4, "Timeout was reached");
    // One stall window and one retry of it, not the time a stopped run would wait forever.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST_F(SyncAgainstMisbehavingServer, VeldmoorSyncFailsOnAnErrorPageInsteadOfReportingUpToDate) {
    server_ = std::make_unique<MisbehavingServer>(web_.path(), Misbehaviour{});
    const ProgramResult result =
        RunProgram(SyncProgram(), {install(), server_->address("elsewhere"), "--quiet"});
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("status 404"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Up to date"), std::string::npos) << result.output;
}

TEST_F(SyncAgainstMisbehavingServer, VeldmoorSyncKeepsToItsRateLimit) {
    // libcurl paces by the average over a few seconds, so the files are several times larger
    // than what a second of the cap lets through. Several files: the cap is the run's, not
    // each connection's.
    for (int i = 0; i < 4; ++i) {
        WriteTestFile(work_ / ("source/data/large" + std::to_string(i) + ".bin"),
                      RandomBytes(2'000'000, 32 + i));
    }
    publish();
    server_ = std::make_unique<MisbehavingServer>(web_.path(), Misbehaviour{});
    const auto started = std::chrono::steady_clock::now();
    const ProgramResult result = RunProgram(
        SyncProgram(), {install(), server_->address("game"), "--quiet", "--limit-rate", "2M"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(upToDate());
    // 8 MB at 2 MiB a second cannot come in much less than four seconds.
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
    const ProgramResult wrong =
        RunProgram(SyncProgram(), {install(), server_->address("game"), "--limit-rate", "fast"});
    EXPECT_EQ(wrong.exitCode, 2);
}

TEST_F(SyncAgainstMisbehavingServer, VeldmoorSyncTakesItsNumberOfConnections) {
    for (int i = 0; i < 8; ++i) {
        WriteTestFile(work_ / ("source/data/f" + std::to_string(i) + ".bin"),
                      RandomBytes(50'000, 60 + i));
    }
    publish();
    server_ = std::make_unique<MisbehavingServer>(web_.path(), Misbehaviour{});
    const ProgramResult result = RunProgram(
        SyncProgram(), {install(), server_->address("game"), "--quiet", "--connections", "3"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_TRUE(upToDate());
    for (const char* wrong : {"0", "65", "many", ""}) {
        const ProgramResult refused = RunProgram(
            SyncProgram(),
            {install(), server_->address("game"), std::string("--connections=") + wrong});
        EXPECT_EQ(refused.exitCode, 2) << wrong;
        EXPECT_NE(refused.output.find("--connections needs a number"), std::string::npos)
            << refused.output;
    }
}

}  // namespace
}  // namespace veldmoor::test
