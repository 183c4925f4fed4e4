// Publishes corpora with veldmoor-publish and synchronises them with the engine against the
// project's server and a real nginx, both on loopback.
#include <gtest/gtest.h>

#include <filesystem>

#include "sync/patch_exception.h"
#include "system/file_time.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/process_runner.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

class SyncAgainstServer : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        fs::create_directories(repo());
        server_ = StartServer(GetParam(), web_.path(), "game");
    }

    std::string source() const { return work_ / "source"; }
    std::string repo() const { return web_ / "game"; }
    std::string install() const { return work_ / "install"; }
    std::string address() const { return server_->address(); }

    void write(const std::string& path, const std::string& content) {
        WriteTestFile(source() + "/" + path, content);
    }
    void publish(const std::vector<std::string>& options = {}) {
        Publish(source(), repo(), options);
    }

    // The installation holds exactly the source's files, each with its listed time.
    void expectInstallMatchesSource() {
        EXPECT_TRUE(ReadTree(install()) == ReadTree(source()))
            << "installation differs from source";
        for (const auto& [path, time] : ListedTimes(repo())) {
            EXPECT_EQ(LastWriteTime(install() + "/" + path), time) << path;
        }
    }

    std::vector<SeenRequest> transferRequestsOf(const std::string& fileName) const {
        std::vector<SeenRequest> found;
        for (const auto& r : server_->requests()) {
            if (r.isTransfer() && r.path.find(fileName) != std::string::npos) {
                found.push_back(r);
            }
        }
        return found;
    }

    TempDir work_{"veldmoor-it"};
    TempDir web_{"veldmoor-web"};
    std::unique_ptr<Server> server_;
};

TEST_P(SyncAgainstServer, FreshInstallGetsEveryFileWithItsListedTime) {
    write("client.exe", RandomBytes(150000, 1));
    write("data/art.mul", RandomBytes(3'000'000, 2));
    write("data/maps/map0.mul", RandomBytes(9'000'000, 3));
    write("Mit Leerzeichen/Grüße aus Veldmoor.txt", "Hallo Welt\n");
    write("empty.cfg", "");
    publish();

    const SyncOutcome outcome = SyncFolder(install(), address());

    EXPECT_EQ(outcome.listed, 5u);
    EXPECT_EQ(outcome.examined.size(), 5u);
    EXPECT_EQ(outcome.downloaded, 150000u + 3'000'000u + 9'000'000u + 11u);
    EXPECT_EQ(outcome.planned, outcome.downloaded);
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, UnchangedTreeRequestsOnlyTheFileList) {
    write("a.bin", RandomBytes(40000, 4));
    write("sub/b.bin", RandomBytes(70000, 5));
    publish();
    SyncFolder(install(), address());
    server_->clearRequests();

    const SyncOutcome second = SyncFolder(install(), address());

    EXPECT_TRUE(second.examined.empty());
    const auto requests = server_->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].isFileList()) << requests[0].path;
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, ChangedBlocksAreTheOnlyBytesDownloaded) {
    std::string content = RandomBytes(200000, 6);  // 1024-byte blocks
    write("data.bin", content);
    publish();
    SyncFolder(install(), address());

    for (std::size_t at : {1000u, 50000u, 150000u}) {
        content[at] = static_cast<char>(content[at] ^ 0x5A);
    }
    write("data.bin", content);
    publish();
    const SyncOutcome outcome = SyncFolder(install(), address());

    EXPECT_EQ(outcome.rebuilt, std::set<std::string>{"data.bin"});
    EXPECT_GT(outcome.downloaded, 0u);
    EXPECT_LE(outcome.downloaded, 3u * 1024u);
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, ShiftedContentIsFoundAtItsNewOffsets) {
    std::string content = RandomBytes(300000, 7);  // 2048-byte blocks
    write("shifted.bin", content);
    publish();
    SyncFolder(install(), address());

    content.insert(5000, RandomBytes(100, 8));
    write("shifted.bin", content);
    publish();
    const SyncOutcome outcome = SyncFolder(install(), address());

    EXPECT_LE(outcome.downloaded, 2u * 2048u);
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, GrownAndShrunkFiles) {
    std::string grown = RandomBytes(100000, 9);
    std::string shrunk = RandomBytes(100000, 10);
    write("grown.bin", grown);
    write("shrunk.bin", shrunk);
    publish();
    SyncFolder(install(), address());

    grown += RandomBytes(10000, 11);
    shrunk.resize(60500);
    write("grown.bin", grown);
    write("shrunk.bin", shrunk);
    publish();
    const SyncOutcome outcome = SyncFolder(install(), address());

    EXPECT_EQ(outcome.rebuilt, (std::set<std::string>{"grown.bin", "shrunk.bin"}));
    // The appended bytes plus at most the old tail block; the cut file needs at most its new
    // tail block.
    EXPECT_LE(outcome.downloaded, 10000u + 2u * 1024u);
    expectInstallMatchesSource();
}

// Changes `count` blocks of 1024 bytes with a clean block between each two, so each becomes a
// range of its own.
std::string WithSeparateChangedBlocks(std::string content, int count) {
    for (int i = 0; i < count; ++i) {
        const std::size_t at = static_cast<std::size_t>(i) * 2 * 1024 + 7;
        content[at] = static_cast<char>(content[at] ^ 0x33);
    }
    return content;
}

TEST_P(SyncAgainstServer, ThirtySixRangesMakeTwoRequestsTheSecondWithOneRange) {
    const std::string content = RandomBytes(100000, 12);
    write("ranges.bin", content);
    publish({"--block-size", "1024"});
    SyncFolder(install(), address());
    write("ranges.bin", WithSeparateChangedBlocks(content, 36));
    publish({"--block-size", "1024"});
    server_->clearRequests();

    const SyncOutcome outcome = SyncFolder(install(), address());

    EXPECT_EQ(outcome.downloaded, 36u * 1024u);
    const auto requests = transferRequestsOf("ranges.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rangeCount(), 35u);
    EXPECT_EQ(requests[1].rangeCount(), 1u);
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, SeventyRangesMakeTwoMultipartRequests) {
    const std::string content = RandomBytes(150000, 13);
    write("ranges.bin", content);
    publish({"--block-size", "1024"});
    SyncFolder(install(), address());
    write("ranges.bin", WithSeparateChangedBlocks(content, 70));
    publish({"--block-size", "1024"});
    server_->clearRequests();

    const SyncOutcome outcome = SyncFolder(install(), address());

    EXPECT_EQ(outcome.downloaded, 70u * 1024u);
    const auto requests = transferRequestsOf("ranges.bin");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].rangeCount(), 35u);
    EXPECT_EQ(requests[1].rangeCount(), 35u);
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, FilesInNewFoldersAndNamesWithBlanksAndUmlauts) {
    write("base.txt", "base");
    publish();
    SyncFolder(install(), address());

    write("neu/tiefer/Ordner mit Lücken/Übersicht änderungen.txt", RandomBytes(5000, 14));
    write("neu/ß & Co/x y.bin", RandomBytes(70000, 15));
    publish();
    const SyncOutcome outcome = SyncFolder(install(), address());

    EXPECT_EQ(outcome.rebuilt.size(), 2u);
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, WholeAnswersComeGzipEncodedRangedOnesNever) {
    std::string content = RandomBytes(120000, 16);
    write("packed.bin", content);
    write("list-me.txt", std::string(5000, 'v'));
    // Its index is large enough for the publisher's own compressed copy, which the server
    // hands out in place of compressing it.
    std::string large = RandomBytes(6 << 20, 18);
    write("large.bin", large);
    const std::vector<std::string> smallBlocks = {"--block-size", "1024"};
    publish(smallBlocks);
    ASSERT_TRUE(fs::exists(repo() + "/transfer/large.bin.chunks.gz"));
    SyncFolder(install(), address());
    content[100] = static_cast<char>(content[100] ^ 1);
    content[90000] = static_cast<char>(content[90000] ^ 1);
    write("packed.bin", content);
    large[3 << 20] = static_cast<char>(large[3 << 20] ^ 1);
    write("large.bin", large);
    publish(smallBlocks);
    server_->clearRequests();

    SyncFolder(install(), address());

    bool sawList = false;
    bool sawIndex = false;
    bool sawRanges = false;
    for (const auto& r : server_->requests()) {
        if (r.isFileList()) {
            sawList = true;
            EXPECT_TRUE(r.gzip) << "file list not compressed";
        } else if (r.isChunkIndex()) {
            sawIndex = true;
            EXPECT_TRUE(r.gzip) << "chunk index not compressed: " << r.path;
        } else if (r.isTransfer()) {
            sawRanges = true;
            EXPECT_FALSE(r.range.empty());
            EXPECT_FALSE(r.gzip) << "ranged answer compressed: " << r.path;
        }
    }
    EXPECT_TRUE(sawList && sawIndex && sawRanges);
    expectInstallMatchesSource();
}

TEST_P(SyncAgainstServer, ChecksumFailureLeavesTheOldFileUntouched) {
    const std::string v1 = RandomBytes(100000, 17);
    write("guarded.bin", v1);
    publish();
    SyncFolder(install(), address());
    const std::int64_t oldTime = LastWriteTime(install() + "/guarded.bin");

    std::string v2 = v1;
    v2[50000] = static_cast<char>(v2[50000] ^ 0x77);
    write("guarded.bin", v2);
    publish();
    // The server's copy now disagrees with its own index where the client will download.
    std::string served = ReadTestFile(repo() + "/transfer/guarded.bin");
    served[50001] = static_cast<char>(served[50001] ^ 0x11);
    WriteTestFile(repo() + "/transfer/guarded.bin", served);

    try {
        SyncFolder(install(), address());
        FAIL() << "a corrupt download was accepted";
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 3);
        EXPECT_EQ(e.code, 8);
        EXPECT_EQ(e.detail, "guarded.bin");
    }
    EXPECT_TRUE(ReadTestFile(install() + "/guarded.bin") == v1) << "old file damaged";
    EXPECT_EQ(LastWriteTime(install() + "/guarded.bin"), oldTime);
    EXPECT_FALSE(fs::exists(install() + "/guarded.bin.tmp"));
}

INSTANTIATE_TEST_SUITE_P(BothServers, SyncAgainstServer,
                         ::testing::Values(ServerKind::Project, ServerKind::Nginx),
                         [](const auto& info) {
                             return info.param == ServerKind::Nginx ? "nginx" : "veldmoor_serve";
                         });

// Faults only the project's server can be told to commit.
class SyncAgainstFaultyServer : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(web_ / "game");
        server_ = StartServer(ServerKind::Project, web_.path(), "game");
        v1_ = RandomBytes(200000, 21);
        WriteTestFile(work_ / "source/victim.bin", v1_);
        Publish(work_ / "source", web_ / "game");
        SyncFolder(work_ / "install", server_->address());
        v2_ = v1_;
        for (std::size_t at : {3000u, 90000u, 180000u}) {
            v2_[at] = static_cast<char>(v2_[at] ^ 0x42);
        }
        WriteTestFile(work_ / "source/victim.bin", v2_);
        Publish(work_ / "source", web_ / "game");
    }

    // Retries without the pauses a real link needs.
    static HttpSettings quick() {
        HttpSettings settings;
        settings.firstRetryPauseMs = 5;
        return settings;
    }

    void expectFailure(int category, int code) {
        try {
            SyncFolder(work_ / "install", server_->address(), quick());
            FAIL() << "the run succeeded against a misbehaving server";
        } catch (const PatchException& e) {
            EXPECT_EQ(e.category, category) << e.what();
            EXPECT_EQ(e.code, code) << e.what();
            EXPECT_EQ(e.detail, "victim.bin");
        }
        EXPECT_TRUE(ReadTestFile(work_ / "install/victim.bin") == v1_) << "old file damaged";
    }

    TempDir work_{"veldmoor-it"};
    TempDir web_{"veldmoor-web"};
    std::unique_ptr<Server> server_;
    std::string v1_;
    std::string v2_;
};

TEST_F(SyncAgainstFaultyServer, ConnectionClosedBeforeAnyByteFailsAsTransferError) {
    ServerFaults faults;
    faults.closeAfterBytes = 0;
    server_->faultable()->setFaults(faults);
    expectFailure(1, 4);

    // The next run against a sound server completes the file.
    server_->faultable()->clearFaults();
    SyncFolder(work_ / "install", server_->address());
    EXPECT_TRUE(ReadTestFile(work_ / "install/victim.bin") == v2_) << "file not brought up to date";
}

TEST_F(SyncAgainstFaultyServer, ConnectionsClosedMidTransferAreRetriedUntilEveryPieceIsIn) {
    ServerFaults faults;
    faults.closeAfterBytes = 700;
    server_->faultable()->setFaults(faults);
    std::vector<std::string> retries;
    SyncFolder(work_ / "install", server_->address(), quick(), &retries);
    EXPECT_TRUE(ReadTestFile(work_ / "install/victim.bin") == v2_) << "file not brought up to date";
    EXPECT_FALSE(retries.empty());
}

TEST_F(SyncAgainstFaultyServer, ServerIgnoringRangeStillYieldsTheRightFile) {
    ServerFaults faults;
    faults.ignoreRange = true;
    server_->faultable()->setFaults(faults);

    SyncFolder(work_ / "install", server_->address());

    EXPECT_TRUE(ReadTestFile(work_ / "install/victim.bin") == v2_) << "file not brought up to date";
    bool sawWholeAnswer = false;
    for (const auto& r : server_->faultable()->requests()) {
        sawWholeAnswer = sawWholeAnswer || (!r.range.empty() && r.status == 200);
    }
    EXPECT_TRUE(sawWholeAnswer);
}

TEST_F(SyncAgainstFaultyServer, MultipartAnswerWithoutBoundaryFallsBackToSingleRanges) {
    ServerFaults faults;
    faults.dropBoundary = true;
    server_->faultable()->setFaults(faults);
    SyncFolder(work_ / "install", server_->address());
    EXPECT_TRUE(ReadTestFile(work_ / "install/victim.bin") == v2_) << "file not brought up to date";
    const auto requests = server_->faultable()->requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().range.find(','), std::string::npos) << requests.back().range;
}

}  // namespace
}  // namespace veldmoor::test
