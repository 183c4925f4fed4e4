// RepoSync against the project's repository server on a free loopback port.
#include "sync/repo_sync.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "sync/file_list.h"
#include "sync/http.h"
#include "sync/patch_exception.h"
#include "sync/patch_file.h"
#include "sync_fixture.h"
#include "system/file_ops.h"
#include "system/file_time.h"
#include "tests/support/served_repository.h"
#include "ui/run_texts.h"

namespace veldmoor {
namespace {

using test::ListedEntry;
using test::randomBytes;
using test::readFile;
using test::writeFile;

constexpr std::uint32_t kBlock = 1024;

std::size_t rangesIn(const std::string& header) {
    return header.empty() ? 0 : 1 + std::count(header.begin(), header.end(), ',');
}

class RepoSyncTest : public ::testing::Test {
protected:
    RepoSyncTest() : server_(RepoServerOptions{.root = repo_.path()}) {}

    void SetUp() override {
        writeFile(repo_ / "filelist.php", "");
        test::StartServing(server_);
        // One answered request shows the server is accepting; stopping it earlier could be
        // missed by its listening thread.
        ASSERT_NO_THROW(RepoSync(install_.path(), address()).listFiles());
        server_.clearRequests();
    }

    // The repository address ends with '/', as the launcher's addresses do.
    std::string address() const { return server_.baseUrl() + "/"; }

    struct Outcome {
        std::vector<std::string> checked;
        std::uint64_t totalDownloadBytes = 0;
        std::vector<ServedRequest> requests;
        std::vector<std::string> retries;  // status lines of retries
    };

    // Retries without the long pauses a real link needs.
    static HttpSettings quickRetries() {
        HttpSettings settings;
        settings.firstRetryPauseMs = 5;
        return settings;
    }

    // `sync` with quick retries over `connections` connections (also for an HTTP/1.1 server,
    // which the test server is).
    static void useConnections(RepoSync& sync, std::size_t connections) {
        HttpSettings settings = quickRetries();
        settings.connections = connections;
        settings.http1Connections = connections;
        sync.setHttpSettings(settings);
    }

    // `count` files "f<first>", "f<first + 1>", ... of `blocks` random blocks, listed at time 5.
    static std::vector<ListedEntry> numberedFiles(int count, std::size_t blocks, std::uint32_t seed,
                                                  int first = 0) {
        std::vector<ListedEntry> entries;
        for (int i = 0; i < count; ++i) {
            entries.push_back({"f" + std::to_string(first + i),
                               randomBytes(blocks * kBlock, seed + static_cast<std::uint32_t>(i)),
                               5});
        }
        return entries;
    }

    // One run as the patch worker makes it.
    Outcome run(const StopRequest& stop = nullptr, const ProgressCallback& progress = nullptr) {
        server_.clearRequests();
        Outcome outcome;
        RepoSync sync(install_.path(), address());
        sync.setStopRequest(stop);
        HttpSettings settings = quickRetries();
        settings.onRetry = [&](const RetryNotice& retry) {
            outcome.retries.push_back(RetryLine(ConnectionRetry{retry.attempt, retry.pauseMs}));
        };
        sync.setHttpSettings(settings);
        for (const RemoteFile& file : sync.listFiles()) {
            sync.prepareFile(file,
                             [&](const std::string& path) { outcome.checked.push_back(path); });
        }
        outcome.totalDownloadBytes = sync.totalDownloadBytes();
        sync.patchPreparedFiles(progress);
        outcome.requests = server_.requests();
        return outcome;
    }

    std::vector<ServedRequest> rangedRequests() const {
        std::vector<ServedRequest> ranged;
        for (const auto& request : server_.requests()) {
            if (!request.range.empty()) {
                ranged.push_back(request);
            }
        }
        return ranged;
    }

    void expectInstalled(const std::vector<ListedEntry>& entries) {
        for (const auto& entry : entries) {
            EXPECT_EQ(readFile(install_ / entry.repoPath), entry.content) << entry.repoPath;
            EXPECT_EQ(LastWriteTime(install_ / entry.repoPath), entry.time) << entry.repoPath;
            EXPECT_FALSE(PathExists(install_ / (entry.repoPath + ".tmp")));
        }
    }

    test::TempFolder repo_;
    test::TempFolder install_;
    RepoServer server_;
};

TEST_F(RepoSyncTest, TheTotalOfAFreshInstallationMayPassFourGigabytes) {
    // Two files of 3 GiB each, known only by their index headers: nothing is held locally, so
    // each is one download of its whole size. Only the preparing phase runs, as in a dry run.
    writeFile(repo_ / "filelist.php",
              "{ path: \"a.mul\", time: \"5\" }\n{ path: \"b.mul\", time: \"6\" }\n");
    std::string header;
    test::appendLittleEndian(header, 0xC53F81A8u);
    test::appendLittleEndian(header, 3u << 30);
    test::appendLittleEndian(header, 0);
    writeFile(repo_ / "transfer/a.mul.chunks", header);
    writeFile(repo_ / "transfer/b.mul.chunks", header);

    RepoSync sync(install_.path(), address());
    sync.setFetchWhilePlanning(false);
    for (const RemoteFile& file : sync.listFiles()) {
        sync.prepareFile(file, nullptr);
    }
    EXPECT_EQ(sync.totalDownloadBytes(), 6ULL << 30);
}

TEST_F(RepoSyncTest, InstallsAFreshTreeThenRequestsOnlyTheFileList) {
    const std::vector<ListedEntry> entries = {
        {"client.exe", randomBytes(10000, 1), 1500000000},
        {"data/maps/map 0.mul", randomBytes(5000, 2), 1500000001},
        {"Grüße/ä b.txt", "tiny", 7},
        {"empty.txt", "", 1600000000},
    };
    test::publish(repo_.path(), entries, kBlock);

    const Outcome first = run();
    EXPECT_EQ(first.checked.size(), 4u);
    EXPECT_EQ(first.totalDownloadBytes, 15004u);
    expectInstalled(entries);

    const Outcome second = run();
    EXPECT_TRUE(second.checked.empty());
    ASSERT_EQ(second.requests.size(), 1u);
    EXPECT_EQ(second.requests[0].path, "/filelist.php");
    EXPECT_EQ(second.requests[0].target, "//filelist.php");
}

TEST_F(RepoSyncTest, SetsOnlyTheTimeOfAFileWhoseContentIsCurrent) {
    const std::string content = randomBytes(10 * kBlock + 100, 3);
    test::publish(repo_.path(), {{"f.bin", content, 1234567}}, kBlock);
    writeFile(install_ / "f.bin", content);

    const Outcome outcome = run();
    EXPECT_EQ(outcome.checked, std::vector<std::string>{"f.bin"});
    EXPECT_EQ(outcome.totalDownloadBytes, 0u);
    EXPECT_TRUE(rangedRequests().empty());
    expectInstalled({{"f.bin", content, 1234567}});
}

TEST_F(RepoSyncTest, RebuildsAFileOfTheSameSizeWhoseBlocksAreAllHeldInAnotherOrder) {
    const std::string first = randomBytes(kBlock, 5);
    const std::string second = randomBytes(kBlock, 6);
    const std::string target = first + second;
    test::publish(repo_.path(), {{"f.bin", target, 4242}}, kBlock);
    writeFile(install_ / "f.bin", second + first);

    const Outcome outcome = run();
    EXPECT_EQ(outcome.totalDownloadBytes, 0u);
    EXPECT_TRUE(rangedRequests().empty());
    EXPECT_TRUE(readFile(install_ / "f.bin") == target) << "the blocks kept their old order";
    EXPECT_EQ(LastWriteTime(install_ / "f.bin"), 4242);
}

TEST_F(RepoSyncTest, LeavesAnUnchangedCopyWithRepeatedBlocksInPlace) {
    const std::string block = randomBytes(kBlock, 7);
    const std::string content = block + block + randomBytes(kBlock, 8);
    test::publish(repo_.path(), {{"f.bin", content, 4343}}, kBlock);
    writeFile(install_ / "f.bin", content);
    // A rebuild would move a new file into place: the file's identity tells whether one ran.
    const auto identity = [this] {
        struct stat info {};
        EXPECT_EQ(::stat((install_ / "f.bin").c_str(), &info), 0);
        return info.st_ino;
    };
    const auto before = identity();

    run();
    EXPECT_TRUE(rangedRequests().empty());
    EXPECT_EQ(identity(), before);
    expectInstalled({{"f.bin", content, 4343}});
}

TEST_F(RepoSyncTest, FetchesOnlyChangedBlocksAndShiftedContent) {
    const std::string old = randomBytes(64 * kBlock + 10, 4);
    std::string changed = old;
    changed[5 * kBlock + 3] ^= 0x55;             // one block changed
    changed.insert(40 * kBlock + 17, "insert");  // everything after shifts
    changed += "grown tail";
    writeFile(install_ / "f.bin", old);
    test::publish(repo_.path(), {{"f.bin", changed, 99}}, kBlock);

    const Outcome outcome = run();
    expectInstalled({{"f.bin", changed, 99}});
    EXPECT_GT(outcome.totalDownloadBytes, 0u);
    EXPECT_LE(outcome.totalDownloadBytes, 4 * kBlock);
}

// A large local copy is written into the new file while it is scanned, once a block shows up
// away from its own offset; the blocks found in place until then are copied in one run. Each
// way of differing must still give the source exactly, and a copy found current is not
// rewritten at all.
struct LargeCopy {
    const char* name;
    std::string (*change)(const std::string& old);
    bool replaced;  // the installed file is a new one
};

class LargeCopyTest : public RepoSyncTest, public ::testing::WithParamInterface<LargeCopy> {};

TEST_P(LargeCopyTest, GivesTheSourceExactly) {
    const std::string old = randomBytes((9u << 20) + 300, 61);
    const std::string target = GetParam().change(old);
    writeFile(install_ / "big.bin", old);
    test::publish(repo_.path(), {{"big.bin", target, 77}}, kBlock);
    // A second name for the old file, outside the installation: it is given the listed time
    // too unless a new file took the old one's place.
    const std::string oldFile = repo_ / "old-file";
    std::filesystem::create_hard_link(install_ / "big.bin", oldFile);

    run();
    expectInstalled({{"big.bin", target, 77}});
    EXPECT_EQ(LastWriteTime(oldFile) != 77, GetParam().replaced);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, LargeCopyTest,
    ::testing::Values(
        LargeCopy{"Current", [](const std::string& old) { return old; }, false},
        LargeCopy{"BlockChangedAfterAFewInPlace",
                  [](const std::string& old) {
                      std::string changed = old;
                      changed[3 * kBlock + 5] ^= 0x21;
                      changed[(6u << 20) + 7] ^= 0x42;
                      return changed;
                  },
                  true},
        LargeCopy{"InsertionAtTheStart", [](const std::string& old) { return "inserted" + old; },
                  true},
        LargeCopy{"HalvesSwapped",  // everything local, nothing in place
                  [](const std::string& old) {
                      const std::size_t half = old.size() / 2 / kBlock * kBlock;
                      return old.substr(half) + old.substr(0, half);
                  },
                  true},
        LargeCopy{"OnlyTheTailDiffers",  // every block in place: laid out after the plan
                  [](const std::string& old) { return old.substr(0, old.size() - 100) + "tail"; },
                  true}),
    [](const ::testing::TestParamInfo<LargeCopy>& info) { return std::string(info.param.name); });

TEST_F(RepoSyncTest, SplitsRangesIntoRequestsOfThirtyFive) {
    for (const int ranges : {35, 36, 70}) {
        // Every other block changed: one range per changed block.
        const std::string old = randomBytes(2 * ranges * kBlock, 5 + ranges);
        std::string changed = old;
        for (int i = 0; i < ranges; ++i) {
            changed[(2 * i + 1) * kBlock] ^= 0x01;
        }
        writeFile(install_ / "f.bin", old);
        test::publish(repo_.path(), {{"f.bin", changed, 100 + ranges}}, kBlock);

        const Outcome outcome = run();
        expectInstalled({{"f.bin", changed, 100 + ranges}});
        EXPECT_EQ(outcome.totalDownloadBytes, ranges * kBlock);
        std::vector<std::size_t> perRequest;
        for (const auto& request : rangedRequests()) {
            perRequest.push_back(rangesIn(request.range));
        }
        const std::vector<std::size_t> expected =
            ranges == 35 ? std::vector<std::size_t>{35}
                         : (ranges == 36 ? std::vector<std::size_t>{35, 1}
                                         : std::vector<std::size_t>{35, 35});
        EXPECT_EQ(perRequest, expected) << ranges << " ranges";
    }
}

TEST_F(RepoSyncTest, TakesBytesFromAServerThatIgnoresRanges) {
    const std::string old = randomBytes(200 * kBlock, 6);
    std::string changed = old;
    for (int i = 0; i < 50; ++i) {
        changed[i * 4 * kBlock] ^= 0x01;  // 50 ranges: two requests
    }
    writeFile(install_ / "f.bin", old);
    test::publish(repo_.path(), {{"f.bin", changed, 5}}, kBlock);
    server_.setFaults(ServerFaults{.ignoreRange = true});

    run();
    expectInstalled({{"f.bin", changed, 5}});
    // The first whole-file answer already held every missing piece.
    EXPECT_EQ(rangedRequests().size(), 1u);
}

TEST_F(RepoSyncTest, AMultipartAnswerWithoutBoundaryFallsBackToOneRangePerRequest) {
    const std::string old = randomBytes(300 * kBlock, 7);
    std::string changed = old;
    for (int i = 0; i < 100; ++i) {
        changed[i * 3 * kBlock] ^= 0x01;
    }
    writeFile(install_ / "f.bin", old);
    test::publish(repo_.path(), {{"f.bin", changed, 5}}, kBlock);
    server_.setFaults(ServerFaults{.dropBoundary = true});
    run();
    expectInstalled({{"f.bin", changed, 5}});
    const auto ranged = rangedRequests();
    ASSERT_GE(ranged.size(), 100u);
    // A few refused answers with several ranges, each asking for a quarter as many, then one
    // range per request to the end.
    const auto firstSingle = std::find_if(ranged.begin(), ranged.end(),
                                          [](const auto& r) { return rangesIn(r.range) == 1; });
    const auto several = static_cast<std::size_t>(firstSingle - ranged.begin());
    EXPECT_LE(several, 3u);
    EXPECT_TRUE(std::all_of(firstSingle, ranged.end(),
                            [](const auto& r) { return rangesIn(r.range) == 1; }));
    // On a loaded machine a connection the test server dropped may ask for a range again.
    EXPECT_LE(ranged.size(), 100 + several + 8);
}

TEST_F(RepoSyncTest, AConnectionClosedMidTransferIsRetriedForWhatIsMissing) {
    const std::string old = randomBytes(100 * kBlock, 8);
    const std::string changed = randomBytes(100 * kBlock, 9);
    writeFile(install_ / "f.bin", old);
    test::publish(repo_.path(), {{"f.bin", changed, 5}}, kBlock);
    server_.setFaults(ServerFaults{.closeAfterBytes = 30000});
    const Outcome outcome = run();
    expectInstalled({{"f.bin", changed, 5}});
    ASSERT_FALSE(outcome.retries.empty());
    EXPECT_TRUE(outcome.retries[0].starts_with("Verbindung unterbrochen, neuer Versuch"));
    // Each request asks only for what the answers before it left out.
    const auto ranged = rangedRequests();
    ASSERT_GE(ranged.size(), 4u);
    EXPECT_NE(ranged[0].range, ranged[1].range);
}

TEST_F(RepoSyncTest, AConnectionClosedBeforeAnyByteFailsAfterTheRetriesAndKeepsTheOldFile) {
    const std::string old = randomBytes(100 * kBlock, 8);
    const std::string changed = randomBytes(100 * kBlock, 9);
    writeFile(install_ / "f.bin", old);
    test::publish(repo_.path(), {{"f.bin", changed, 5}}, kBlock);
    server_.setFaults(ServerFaults{.closeAfterBytes = 0});
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 1);
        EXPECT_EQ(e.code, 4);
    }
    EXPECT_EQ(readFile(install_ / "f.bin"), old);
    EXPECT_FALSE(PathExists(install_ / "f.bin.tmp"));
    EXPECT_EQ(rangedRequests().size(), 1u + HttpSettings{}.retries);
}

TEST_F(RepoSyncTest, AFailureInTheThirdFileLeavesTheFirstTwoDone) {
    std::vector<ListedEntry> entries;
    for (int i = 0; i < 5; ++i) {
        entries.push_back({"f" + std::to_string(i), randomBytes(3000, 20 + i), 1000 + i});
        writeFile(install_ / entries.back().repoPath, "old");
    }
    test::publish(repo_.path(), entries, kBlock);
    writeFile(repo_ / "transfer/f2", randomBytes(3000, 99));  // differs from its index
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 3);
        EXPECT_EQ(e.code, 8);
        EXPECT_EQ(e.detail, "f2");
        EXPECT_EQ(e.params.at("ExpectedChecksum"), test::crcOf(entries[2].content));
    }
    expectInstalled({entries[0], entries[1]});
    for (int i = 2; i < 5; ++i) {
        EXPECT_EQ(readFile(install_ / entries[i].repoPath), "old");
        EXPECT_NE(LastWriteTime(install_ / entries[i].repoPath), entries[i].time);
    }
    EXPECT_FALSE(PathExists(install_ / "f2.tmp"));
}

// A listed path the engine will not use, refused before anything is fetched or made.
struct RefusedPath {
    const char* name;
    std::string path;
    PathRefusal reason;
    const char* shown;  // how the diagnostic names the path
};

class RefusedPathTest : public RepoSyncTest, public ::testing::WithParamInterface<RefusedPath> {};

TEST_P(RefusedPathTest, IsRefusedBeforeAnythingIsMade) {
    const RefusedPath& c = GetParam();
    const auto entries = [this] {
        return std::distance(std::filesystem::directory_iterator(install_.path()),
                             std::filesystem::directory_iterator());
    };
    const auto before = entries();
    writeFile(repo_ / "filelist.php", "{ path: \"" + c.path + "\", time: \"5\" }");
    try {
        run();
        FAIL() << c.shown;
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 0);
        EXPECT_EQ(e.code, 2);
        EXPECT_EQ(e.detail, c.shown);
        EXPECT_EQ(e.params.at("Reason"), static_cast<std::uint32_t>(c.reason));
        // The whole text, the reason after the path included: nothing cut at a NUL.
        EXPECT_NE(std::string(e.what()).find(std::string("'") + c.shown +
                                             "': " + describePathRefusal(c.reason)),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(entries(), before) << "something was made for " << c.shown;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RefusedPathTest,
    ::testing::Values(
        RefusedPath{"Parent", "../outside", PathRefusal::ParentComponent, "../outside"},
        RefusedPath{"ParentFurtherIn", "a/../../outside", PathRefusal::ParentComponent,
                    "a/../../outside"},
        RefusedPath{"Rooted", "/tmp/outside", PathRefusal::Rooted, "/tmp/outside"},
        RefusedPath{"ParentWithBackslashes", "a\\..\\..\\x", PathRefusal::ParentComponent,
                    "a\\..\\..\\x"},
        RefusedPath{"FolderName", "dir/", PathRefusal::FolderName, "dir/"},
        RefusedPath{"FolderNameWithBackslash", "a/dir\\", PathRefusal::FolderName, "a/dir\\"},
        RefusedPath{"Nul", std::string("a\0b", 3), PathRefusal::NulByte, "a\\x00b"}),
    [](const auto& info) { return info.param.name; });

TEST_F(RepoSyncTest, APathNestedTooDeeplyIsRefusedBeforeAnyFolderIsMade) {
    std::string path;
    for (int i = 0; i < 40; ++i) {
        path += "d" + std::to_string(i) + "/";
    }
    path += "f";
    writeFile(repo_ / "filelist.php", "{ path: \"" + path + "\", time: \"5\" }");
    writeFile(repo_ / ("transfer/" + path + ".chunks"), test::chunkIndexOf("x", kBlock));
    writeFile(repo_ / ("transfer/" + path), "x");
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 0);
        EXPECT_EQ(e.code, 2);
        EXPECT_EQ(e.params.at("Reason"), static_cast<std::uint32_t>(PathRefusal::TooDeep));
        EXPECT_NE(std::string(e.what()).find("deeper than 32"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(PathExists(install_ / "d0"));
}

TEST_F(RepoSyncTest, AListedNameInWhichAnotherIsRebuiltIsRefused) {
    // The rebuild of "x" is laid out in "x.tmp": it would consume the listed "X.TMP" and then
    // report the folder up to date.
    test::publish(repo_.path(), {{"x", "new x", 5}, {"X.TMP", "listed", 6}}, kBlock);
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 2);
        EXPECT_EQ(e.code, 1);
        EXPECT_NE(std::string(e.what()).find("'X.TMP'"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(PathExists(install_ / "x"));
    // What a broken transfer of "x" keeps is "x.resume": listed too, it would be taken as such.
    test::publish(repo_.path(), {{"x", "new x", 5}, {"x.Resume", "listed", 6}}, kBlock);
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 2);
        EXPECT_NE(std::string(e.what()).find("'x.Resume'"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(PathExists(install_ / "x"));
    // Alone, a name ending in ".tmp" is an ordinary file.
    test::publish(repo_.path(), {{"y.tmp", "listed", 6}}, kBlock);
    run();
    expectInstalled({{"y.tmp", "listed", 6}});
}

TEST_F(RepoSyncTest, NamesAFolderWhereAListedFileBelongs) {
    test::publish(repo_.path(), {{"data/f.bin", "content", 5}}, kBlock);
    writeFile(install_ / "data/f.bin/kept", "the player's");
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 0);
        EXPECT_EQ(e.code, 11);
        EXPECT_EQ(e.detail, "data/f.bin");
        EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(install_ / "data/f.bin/kept"), "the player's");
}

TEST_F(RepoSyncTest, ALinkAtTheTemporaryFileIsReplacedNeverWrittenThrough) {
    const test::TempFolder outside;
    writeFile(outside / "victim", "outside, untouched");
    const std::string changed = randomBytes(20 * kBlock, 30);
    writeFile(install_ / "f.bin", randomBytes(20 * kBlock, 31));
    test::publish(repo_.path(), {{"f.bin", changed, 5}}, kBlock);
    std::filesystem::create_symlink(outside / "victim", install_ / "f.bin.tmp");

    run();
    EXPECT_EQ(readFile(outside / "victim"), "outside, untouched");
    EXPECT_EQ(KindOf(install_ / "f.bin"), PathKind::File);
    expectInstalled({{"f.bin", changed, 5}});
}

TEST_F(RepoSyncTest, ALinkAtTheListedFileIsReplacedAndItsTargetLeftAlone) {
    // The link's target already holds the listed content: the old engine set that outside
    // file's time and left the link in place.
    const test::TempFolder outside;
    const std::string content = randomBytes(8 * kBlock, 32);
    writeFile(outside / "target", content);
    ASSERT_TRUE(SetLastWriteTime(outside / "target", 1000));
    test::publish(repo_.path(), {{"f.bin", content, 5}, {"g.bin", "short", 6}}, kBlock);
    std::filesystem::create_symlink(outside / "target", install_ / "f.bin");
    std::filesystem::create_symlink(outside / "target", install_ / "g.bin");

    run();
    EXPECT_EQ(LastWriteTime(outside / "target"), 1000);
    EXPECT_EQ(readFile(outside / "target"), content);
    EXPECT_EQ(KindOf(install_ / "f.bin"), PathKind::File);
    EXPECT_EQ(KindOf(install_ / "g.bin"), PathKind::File);
    expectInstalled({{"f.bin", content, 5}, {"g.bin", "short", 6}});
}

TEST_F(RepoSyncTest, AFolderLinkThePlayerMadeIsKeptAndUsed) {
    // A data folder moved to another drive and linked back into the installation.
    const test::TempFolder otherDrive;
    ASSERT_TRUE(MakeDirectory(otherDrive / "data"));
    std::filesystem::create_directory_symlink(otherDrive / "data", install_ / "data");
    const std::vector<ListedEntry> entries = {{"data/maps/m.mul", randomBytes(3000, 33), 5}};
    test::publish(repo_.path(), entries, kBlock);

    run();
    expectInstalled(entries);
    EXPECT_EQ(KindOf(install_ / "data"), PathKind::Link);
    EXPECT_EQ(readFile(otherDrive / "data/maps/m.mul"), entries[0].content);
}

TEST_F(RepoSyncTest, ASecondRunOnTheSameFolderWaitsThenSaysAnotherUpdateIsRunning) {
    test::publish(repo_.path(), {{"f.bin", "content", 5}}, kBlock);
    RepoSync first(install_.path(), address());
    first.listFiles();  // holds the folder from here on

    RepoSync second(install_.path(), address());
    const auto started = std::chrono::steady_clock::now();
    try {
        second.listFiles();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 0);
        EXPECT_EQ(e.code, 10);
        EXPECT_EQ(e.detail, install_.path());
        EXPECT_NE(std::string(e.what()).find("Another update"), std::string::npos) << e.what();
    }
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));

    // A stop request ends the wait early.
    RepoSync third(install_.path(), address());
    third.setStopRequest([] { return true; });
    EXPECT_THROW(third.listFiles(), SyncCancelled);
}

TEST_F(RepoSyncTest, TheFolderIsFreeAgainOnceTheRunIsOver) {
    test::publish(repo_.path(), {{"f.bin", "content", 5}}, kBlock);
    run();
    run();
    expectInstalled({{"f.bin", "content", 5}});
}

TEST_F(RepoSyncTest, ReportsBadServerData) {
    writeFile(repo_ / "filelist.php", "{ path: \"a\", time: \"4294967296\" }");
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 2);
        EXPECT_EQ(e.detail, "a");
    }
    writeFile(repo_ / "filelist.php", "{ path: \"a\", time: \"1\" }");
    writeFile(repo_ / "transfer/a.chunks", "not an index");
    try {
        run();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 2);
        EXPECT_EQ(e.code, 1);
        EXPECT_EQ(e.detail, "a");
    }
}

TEST_F(RepoSyncTest, AnErrorPageAsFileListFailsNamingTheStatus) {
    ASSERT_TRUE(RemoveFile(repo_ / "filelist.php"));
    RepoSync sync(install_.path(), address());
    try {
        sync.listFiles();
        FAIL() << "an error page was taken for a file list";
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 1);
        EXPECT_EQ(e.code, 7);
        EXPECT_NE(std::string(e.what()).find("status 404"), std::string::npos) << e.what();
    }
}

TEST(RepoSyncWithoutServer, ReportsAFileListThatCannotBeFetched) {
    const test::TempFolder install;
    RepoSync sync(install.path(), "http://127.0.0.1:9/");
    HttpSettings settings;
    settings.firstRetryPauseMs = 5;
    sync.setHttpSettings(settings);
    try {
        sync.listFiles();
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 1);
        EXPECT_EQ(e.code, 7);
        EXPECT_EQ(e.detail, "");
        EXPECT_EQ(std::string(e.what()),
                  "Http request failed while getting files! Couldn't connect to server "
                  "(http://127.0.0.1:9//filelist.php)");
    }
}

TEST_F(RepoSyncTest, ACancelledRunLeavesNoHalfReplacedFile) {
    const std::string old = randomBytes(400 * kBlock, 10);
    const std::string changed = randomBytes(400 * kBlock, 11);
    writeFile(install_ / "a.bin", old);
    writeFile(install_ / "b.bin", old);
    test::publish(repo_.path(), {{"a.bin", changed, 5}, {"b.bin", changed, 6}}, kBlock);
    bool stop = false;
    EXPECT_THROW(run([&] { return stop; },
                     [&](const std::string&, unsigned written, unsigned) {
                         if (written > 0) {
                             stop = true;  // asked while the first file is still arriving
                         }
                     }),
                 SyncCancelled);
    EXPECT_EQ(readFile(install_ / "a.bin"), old);
    EXPECT_FALSE(PathExists(install_ / "a.bin.tmp"));
    EXPECT_NE(LastWriteTime(install_ / "a.bin"), 5);
    // The second file may have come whole while the first was arriving: then it is put in
    // place, whole and with its time, rather than fetched again next time.
    EXPECT_FALSE(PathExists(install_ / "b.bin.tmp"));
    if (readFile(install_ / "b.bin") != old) {
        EXPECT_EQ(readFile(install_ / "b.bin"), changed) << "b.bin is mixed";
        EXPECT_EQ(LastWriteTime(install_ / "b.bin"), 6);
    }
}

TEST_F(RepoSyncTest, AStopEndsATransferFromAStalledServer) {
    const std::string old = randomBytes(20 * kBlock, 12);
    writeFile(install_ / "a.bin", old);
    test::publish(repo_.path(), {{"a.bin", randomBytes(20 * kBlock, 13), 5}}, kBlock);
    server_.setFaults(ServerFaults{.stall = std::chrono::seconds(60)});
    const auto started = std::chrono::steady_clock::now();
    // libcurl polls the stop request about once a second even while no byte arrives.
    EXPECT_THROW(run([&] {
                     return std::chrono::steady_clock::now() - started >
                            std::chrono::milliseconds(300);
                 }),
                 SyncCancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(readFile(install_ / "a.bin"), old);
    EXPECT_FALSE(PathExists(install_ / "a.bin.tmp"));
}

TEST_F(RepoSyncTest, AStopDuringTheCopyOfLocalBlocksEndsTheRebuild) {
    // Every block but the last 64 KiB is held locally, in another order: the rebuild is one long
    // local copy, and the range answers are taken in during it.
    const std::string first = randomBytes(2u << 20, 34);
    const std::string second = randomBytes(2u << 20, 35);
    const std::string fetched = randomBytes(64 * kBlock, 36);
    writeFile(install_ / "f.bin", second + first);
    test::publish(repo_.path(), {{"f.bin", first + second + fetched, 5}}, kBlock);
    // While the temporary file is there, the stop is asked once per block copied, and by the
    // transfers when their answers are taken in, every 8 blocks; a stop ends the copy at once.
    const std::string temporary = install_ / "f.bin.tmp";
    const auto pollsDuringTheCopy = [&](int stopAt) {
        RepoSync sync(install_.path(), address());
        int polls = 0;
        sync.setStopRequest([&] { return PathExists(temporary) && ++polls == stopAt; });
        for (const RemoteFile& file : sync.listFiles()) {
            sync.prepareFile(file, nullptr);
        }
        EXPECT_EQ(sync.totalDownloadBytes(), fetched.size());
        sync.patchPreparedFiles(nullptr);
        return polls;
    };
    // A first run counts the polls without stopping.
    const int blocks = static_cast<int>((4u << 20) / kCopyBlockSize);
    const std::string kept = install_ / "f.bin";
    EXPECT_GE(pollsDuringTheCopy(0), blocks - 1);
    EXPECT_TRUE(readFile(kept) == first + second + fetched);
    // A stop before the ranges were taken in and one after (the 12th poll comes after 8 blocks).
    for (const int stopAt : {3, 12}) {
        writeFile(kept, second + first);  // the old version again
        ASSERT_TRUE(SetLastWriteTimeOfEntry(kept, 1));
        EXPECT_THROW(pollsDuringTheCopy(stopAt), SyncCancelled);
        EXPECT_TRUE(readFile(kept) == second + first) << "the old file was replaced";
        EXPECT_FALSE(PathExists(temporary));
        EXPECT_FALSE(PathExists(install_ / "f.bin.resume"));
    }
}

TEST_F(RepoSyncTest, StopsBetweenFilesWhenAsked) {
    test::publish(repo_.path(), {{"a", "1", 5}, {"b", "2", 6}}, kBlock);
    bool stop = false;
    RepoSync sync(install_.path(), address());
    sync.setStopRequest([&] { return stop; });
    const auto files = sync.listFiles();
    ASSERT_EQ(files.size(), 2u);
    sync.prepareFile(files[0], nullptr);
    stop = true;
    EXPECT_THROW(sync.prepareFile(files[1], nullptr), SyncCancelled);
    EXPECT_THROW(sync.patchPreparedFiles(nullptr), SyncCancelled);
    EXPECT_FALSE(PathExists(install_ / "a"));
}

// Runs `work` on a thread of its own; the test then waits for conditions with deadlines.
class BackgroundRun {
public:
    explicit BackgroundRun(std::function<void()> work)
        : result_(std::async(std::launch::async, std::move(work))) {}
    // True once the run has ended within `deadline`.
    bool endsWithin(std::chrono::milliseconds deadline) {
        return result_.wait_for(deadline) == std::future_status::ready;
    }
    void rethrow() { result_.get(); }

private:
    std::future<void> result_;
};

// Waits until `condition` holds, at most `deadline`.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

std::size_t countEndingWith(const std::vector<ServedRequest>& requests, const std::string& end,
                            bool ranged) {
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(), [&](const ServedRequest& r) {
            return r.path.ends_with(end) && r.range.empty() != ranged;
        }));
}

TEST_F(RepoSyncTest, IndexesOfSeveralFilesAreOnTheWireAtOnceAndAStopEndsThemPromptly) {
    const std::vector<ListedEntry> entries = numberedFiles(10, 3, 40);
    test::publish(repo_.path(), entries, kBlock);
    std::atomic<bool> stop{false};
    RepoSync sync(install_.path(), address());
    sync.setStopRequest([&] { return stop.load(); });
    useConnections(sync, 4);
    const std::vector<RemoteFile> files = sync.listFiles();
    server_.clearRequests();
    server_.setFaults(ServerFaults{.stall = std::chrono::seconds(60), .alsoWholeAnswers = true});

    BackgroundRun run([&] {
        for (const RemoteFile& file : files) {
            sync.prepareFile(file, nullptr);
        }
        sync.totalDownloadBytes();
    });
    // Every index waits on the stalled server, so what reaches it was sent at once: on half
    // the connections, the other half being kept for the ranges of files already planned.
    EXPECT_TRUE(
        eventually([&] { return server_.requests().size() >= 2; }, std::chrono::seconds(10)));
    const auto stoppedAt = std::chrono::steady_clock::now();
    stop = true;
    ASSERT_TRUE(run.endsWithin(std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::milliseconds(200));
    EXPECT_THROW(run.rethrow(), SyncCancelled);
    EXPECT_EQ(countEndingWith(server_.requests(), ".chunks", false), 2u)
        << "indexes took more than half the connections";
}

TEST_F(RepoSyncTest, IndexesAreNotHeldUpBehindTheRangesAlreadyAskedFor) {
    // More files than are planned at once: the later indexes are asked for after the ranges
    // of the first files. Those ranges never end, yet every index still comes.
    const std::vector<ListedEntry> entries = numberedFiles(40, 2, 90);
    test::publish(repo_.path(), entries, kBlock);
    std::atomic<bool> stop{false};
    RepoSync sync(install_.path(), address());
    sync.setStopRequest([&] { return stop.load(); });
    useConnections(sync, 3);
    server_.setFaults(ServerFaults{.stall = std::chrono::seconds(60)});  // ranged answers only
    std::uint64_t total = 0;
    BackgroundRun run([&] {
        for (const RemoteFile& file : sync.listFiles()) {
            sync.prepareFile(file, nullptr);
        }
        total = sync.totalDownloadBytes();
    });
    const bool planned = run.endsWithin(std::chrono::seconds(10));
    stop = true;
    ASSERT_TRUE(run.endsWithin(std::chrono::seconds(10)));
    EXPECT_TRUE(planned) << "the indexes waited behind stalled ranges";
    if (planned) {
        run.rethrow();
        EXPECT_EQ(total, 40u * 2 * kBlock);
        EXPECT_EQ(countEndingWith(server_.requests(), ".chunks", false), 40u);
    }
}

TEST_F(RepoSyncTest, AFileWithMoreChangedBlocksThanARequestCarriesIsFetchedOverSeveralConnections) {
    // 200 changed blocks with a kept one between each two: 200 ranges, six requests' worth.
    const std::string old = randomBytes(400 * kBlock, 120);
    std::string current = old;
    for (std::size_t block = 0; block < 400; block += 2) {
        current[block * kBlock + 7] = static_cast<char>(current[block * kBlock + 7] ^ 0x5A);
    }
    writeFile(install_ / "big.bin", old);
    test::publish(repo_.path(), {{"big.bin", current, 5}}, kBlock);
    RepoSync sync(install_.path(), address());
    useConnections(sync, 4);
    for (const RemoteFile& file : sync.listFiles()) {
        sync.prepareFile(file, nullptr);
    }
    ASSERT_EQ(sync.totalDownloadBytes(), 200u * kBlock);
    sync.patchPreparedFiles(nullptr);
    EXPECT_TRUE(readFile(install_ / "big.bin") == current);

    EXPECT_GE(sync.peakRequestsInFlight(), 3u) << "the file's requests went one after another";
    // Spreading adds no request and asks for no byte twice.
    const std::vector<ServedRequest> ranged = rangedRequests();
    EXPECT_EQ(ranged.size(), 6u);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;
    for (const ServedRequest& request : ranged) {
        std::istringstream list(request.range.substr(request.range.find('=') + 1));
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        char dash = 0;
        while (list >> first >> dash >> last) {
            asked.emplace_back(first, last);
            list.ignore(1);  // the comma
        }
    }
    std::sort(asked.begin(), asked.end());
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < asked.size(); ++i) {
        bytes += asked[i].second - asked[i].first + 1;
        if (i > 0) {
            EXPECT_GT(asked[i].first, asked[i - 1].second) << "asked twice";
        }
    }
    EXPECT_EQ(bytes, 200u * kBlock);
}

TEST_F(RepoSyncTest, RangesOfSeveralFilesAreOnTheWireAtOnceAndAStopLeavesEveryOldFile) {
    std::vector<ListedEntry> entries;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "f" + std::to_string(i);
        writeFile(install_ / name, randomBytes(6 * kBlock, 60 + i));
        entries.push_back({name, randomBytes(6 * kBlock, 70 + i), 5});
    }
    test::publish(repo_.path(), entries, kBlock);
    std::atomic<bool> stop{false};
    RepoSync sync(install_.path(), address());
    sync.setStopRequest([&] { return stop.load(); });
    useConnections(sync, 3);
    // Only the range answers stall: the ranges of the first files go out while later files are
    // still planned, and stay on the wire into the patching phase.
    server_.setFaults(ServerFaults{.stall = std::chrono::seconds(60)});
    for (const RemoteFile& file : sync.listFiles()) {
        sync.prepareFile(file, nullptr);
    }
    ASSERT_EQ(sync.totalDownloadBytes(), 8u * 6 * kBlock);

    BackgroundRun run([&] { sync.patchPreparedFiles(nullptr); });
    EXPECT_TRUE(eventually([&] { return countEndingWith(server_.requests(), "", true) >= 3; },
                           std::chrono::seconds(10)));
    const auto stoppedAt = std::chrono::steady_clock::now();
    stop = true;
    ASSERT_TRUE(run.endsWithin(std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::milliseconds(200));
    EXPECT_THROW(run.rethrow(), SyncCancelled);
    EXPECT_EQ(countEndingWith(server_.requests(), "", true), 3u);
    for (int i = 0; i < 8; ++i) {
        const std::string name = "f" + std::to_string(i);
        EXPECT_EQ(readFile(install_ / name), randomBytes(6 * kBlock, 60 + i)) << name;
        EXPECT_FALSE(PathExists(install_ / (name + ".tmp"))) << name;
    }
}

TEST_F(RepoSyncTest, TheFirstFilesRangesFlowWhileLaterIndexesAreOnTheirWay) {
    const std::vector<ListedEntry> entries = numberedFiles(40, 2, 200, 100);
    test::publish(repo_.path(), entries, kBlock);
    RepoSync sync(install_.path(), address());
    useConnections(sync, 2);  // a window of 8 files: the last indexes wait for the first files
    for (const RemoteFile& file : sync.listFiles()) {
        sync.prepareFile(file, nullptr);
    }
    ASSERT_EQ(sync.totalDownloadBytes(), 40u * 2 * kBlock);
    const std::vector<ServedRequest> planning = server_.requests();
    const auto firstRange = std::find_if(planning.begin(), planning.end(),
                                         [](const ServedRequest& r) { return !r.range.empty(); });
    const auto lastIndex =
        std::find_if(planning.rbegin(), planning.rend(),
                     [](const ServedRequest& r) { return r.path.ends_with(".chunks"); });
    ASSERT_NE(firstRange, planning.end()) << "no range was fetched while planning";
    ASSERT_NE(lastIndex, planning.rend());
    EXPECT_LT(firstRange - planning.begin(), planning.rend() - lastIndex - 1)
        << "the ranges waited for every index";
    for (const auto& entry : entries) {
        EXPECT_FALSE(PathExists(install_ / entry.repoPath)) << "put in place while planning";
    }

    std::vector<std::string> reported;
    sync.patchPreparedFiles([&](const std::string& path, unsigned int written, unsigned int total) {
        if (written == total) {
            reported.push_back(path);
        }
    });
    expectInstalled(entries);
    ASSERT_EQ(reported.size(), entries.size()) << "a file's progress was lost while planning";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(reported[i], entries[i].repoPath);
    }
    EXPECT_EQ(countEndingWith(server_.requests(), "", true), entries.size());
}

TEST_F(RepoSyncTest, ARunThatOnlyPlansFetchesNoRangeAndWritesNothing) {
    test::publish(repo_.path(), {{"d/a", randomBytes(3 * kBlock, 1), 5}, {"b", "bytes", 6}},
                  kBlock);
    writeFile(install_ / "b", "old");
    RepoSync sync(install_.path(), address());
    sync.setFetchWhilePlanning(false);
    for (const RemoteFile& file : sync.listFiles()) {
        sync.prepareFile(file, nullptr);
    }
    EXPECT_EQ(sync.totalDownloadBytes(), 3u * kBlock + 5);
    EXPECT_EQ(countEndingWith(server_.requests(), "", true), 0u);
    EXPECT_FALSE(PathExists(install_ / "d"));
    EXPECT_FALSE(PathExists(install_ / "b.tmp"));
    EXPECT_EQ(readFile(install_ / "b"), "old");
}

TEST_F(RepoSyncTest, FilesReceivedTogetherAreReportedAndPutInPlaceInListOrder) {
    std::vector<ListedEntry> entries;
    for (int i = 0; i < 24; ++i) {
        // Sizes fall along the list, so later files tend to be complete first.
        entries.push_back({"d/f" + std::to_string(100 + i),
                           randomBytes(static_cast<std::size_t>(48 - 2 * i) * kBlock, 80 + i),
                           1000 + i});
    }
    test::publish(repo_.path(), entries, kBlock);
    std::vector<std::string> order;
    std::vector<bool> completed;
    const Outcome outcome =
        run(nullptr, [&](const std::string& path, unsigned int written, unsigned int total) {
            if (order.empty() || order.back() != path) {
                ASSERT_TRUE(completed.empty() || completed.back())
                    << "the file before " << path << " was left unfinished";
                order.push_back(path);
                completed.push_back(false);
            }
            completed.back() = written == total;
        });
    std::vector<std::string> listed;
    for (const auto& entry : entries) {
        listed.push_back(entry.repoPath);
    }
    EXPECT_EQ(order, listed);
    EXPECT_EQ(outcome.checked, listed);
    EXPECT_TRUE(std::all_of(completed.begin(), completed.end(), [](bool b) { return b; }));
    expectInstalled(entries);
}

TEST_F(RepoSyncTest, EachIndexIsLetGoOnceItHasComeNotHeldForTheFilesBeforeIt) {
    // Indexes large for their files (16-byte blocks): a window of them held whole until the
    // file at its head is planned would be many indexes' worth.
    constexpr std::size_t kFileSize = 64 * 1024;
    constexpr std::uint32_t kSmallBlock = 16;
    std::vector<ListedEntry> entries;
    for (int i = 0; i < 24; ++i) {
        entries.push_back(
            {"big/f" + std::to_string(100 + i), randomBytes(kFileSize, 300 + i), 1000 + i});
    }
    test::publish(repo_.path(), entries, kSmallBlock);
    // The first file's index comes last: every other one arrives while the run waits for it.
    server_.setFaults(ServerFaults{.stall = std::chrono::milliseconds(300),
                                   .alsoWholeAnswers = true,
                                   .onlyPath = "/transfer/big/f100.chunks"});
    RepoSync sync(install_.path(), address());
    // Six connections, whatever the server's protocol lets the pool grow to.
    constexpr std::size_t kConnections = 6;
    useConnections(sync, kConnections);
    for (const RemoteFile& file : sync.listFiles()) {
        sync.prepareFile(file, nullptr);
    }
    sync.patchPreparedFiles(nullptr);
    // The first file's own index and those on the other connections, not the whole window.
    const std::size_t oneIndex = (kFileSize / kSmallBlock + 16) * sizeof(Piece);
    EXPECT_LE(sync.peakIndexBytesHeld(), (kConnections + 2) * oneIndex)
        << "one index takes " << oneIndex;
    expectInstalled(entries);
}

std::uint64_t rangedBytes(const std::vector<ServedRequest>& requests) {
    std::uint64_t bytes = 0;
    for (const auto& request : requests) {
        if (!request.range.empty()) {
            bytes += request.bodyBytes;
        }
    }
    return bytes;
}

class ResumeTest : public RepoSyncTest {
protected:
    static constexpr std::size_t kSize = 4u << 20;
    // What a cut at 90% leaves that the next run can check against the index: whole blocks.
    static constexpr std::size_t kKeptBlocks = kSize * 9 / 10 / 4096 * 4096;

    // A run whose single ranged answer is cut at 90% and that is not tried again.
    void breakAtNinetyPercent() {
        server_.setFaults(ServerFaults{.closeAfterBytes = kSize * 9 / 10});
        RepoSync sync(install_.path(), address());
        HttpSettings settings = quickRetries();
        settings.retries = 0;
        sync.setHttpSettings(settings);
        for (const RemoteFile& file : sync.listFiles()) {
            sync.prepareFile(file, nullptr);
        }
        try {
            sync.patchPreparedFiles(nullptr);
            ADD_FAILURE() << "the cut transfer succeeded";
        } catch (const PatchException& e) {
            EXPECT_EQ(e.category, 1) << e.what();
        }
        server_.clearFaults();
    }
};

TEST_F(ResumeTest, AFileCutAtNinetyPercentIsResumedWithOnlyTheRemainder) {
    const std::string content = randomBytes(kSize, 90);
    test::publish(repo_.path(), {{"big.bin", content, 7}}, 4096);
    breakAtNinetyPercent();
    EXPECT_FALSE(PathExists(install_ / "big.bin")) << "a half file was put in place";
    EXPECT_FALSE(PathExists(install_ / "big.bin.tmp"));
    ASSERT_TRUE(PathExists(install_ / "big.bin.resume"));

    const Outcome second = run();
    expectInstalled({{"big.bin", content, 7}});
    EXPECT_FALSE(PathExists(install_ / "big.bin.resume"));
    EXPECT_EQ(second.totalDownloadBytes, kSize - kKeptBlocks);
    EXPECT_LE(rangedBytes(second.requests), kSize / 10 + 4096) << "more than the remainder came";
}

TEST_F(ResumeTest, ResumeDataOfAnotherVersionIsRemovedAndTheFileFetchedWhole) {
    test::publish(repo_.path(), {{"big.bin", randomBytes(kSize, 91), 7}}, 4096);
    breakAtNinetyPercent();
    ASSERT_TRUE(PathExists(install_ / "big.bin.resume"));

    const std::string next = randomBytes(kSize, 92);
    test::publish(repo_.path(), {{"big.bin", next, 8}}, 4096);
    const Outcome second = run();
    expectInstalled({{"big.bin", next, 8}});
    EXPECT_FALSE(PathExists(install_ / "big.bin.resume"));
    EXPECT_EQ(second.totalDownloadBytes, kSize);
}

// Resume data damaged on the drive where its record claims it holds the version.
struct ResumeDamage {
    const char* name;
    std::size_t at;
    std::size_t length;
};

class DamagedResumeTest : public ResumeTest, public ::testing::WithParamInterface<ResumeDamage> {};

TEST_P(DamagedResumeTest, OnlyTheDamagedBlocksAreFetchedAgain) {
    const ResumeDamage& damage = GetParam();
    const std::string content = randomBytes(kSize, 93);
    test::publish(repo_.path(), {{"big.bin", content, 7}}, 4096);
    breakAtNinetyPercent();
    {
        std::fstream data(install_ / "big.bin.resume",
                          std::ios::in | std::ios::out | std::ios::binary);
        data.seekp(static_cast<std::streamoff>(damage.at));
        std::string changed = content.substr(damage.at, damage.length);
        for (char& c : changed) {
            c = static_cast<char>(c ^ 0x5A);
        }
        data.write(changed.data(), static_cast<std::streamsize>(changed.size()));
    }
    const Outcome second = run();
    expectInstalled({{"big.bin", content, 7}});
    EXPECT_FALSE(PathExists(install_ / "big.bin.resume"));
    // The remainder, and the damaged stretch in whole blocks of 4096 bytes.
    const std::uint64_t damagedBlocks =
        (damage.at + damage.length + 4095) / 4096 - damage.at / 4096;
    EXPECT_EQ(second.totalDownloadBytes, kSize - kKeptBlocks + damagedBlocks * 4096);
    EXPECT_LE(rangedBytes(second.requests), second.totalDownloadBytes + 4096);
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedResumeTest,
                         ::testing::Values(ResumeDamage{"OneByte", 1000, 1},
                                           ResumeDamage{"OneMiB", 1u << 20, 1u << 20},
                                           ResumeDamage{"AcrossBlocks", 3 * 4096 + 100, 5000}),
                         [](const auto& info) { return info.param.name; });

TEST_F(ResumeTest, ResumeDataOfAFileNoLongerListedGoesWithTheNextUpdateButNotWithAPlan) {
    test::publish(repo_.path(), {{"big.bin", randomBytes(kSize, 95), 7}}, 4096);
    breakAtNinetyPercent();
    ASSERT_TRUE(PathExists(install_ / "big.bin.resume"));
    writeFile(install_ / "notes.resume", "the player's own file");
    // The next version no longer lists big.bin; it lists a file that merely ends alike.
    test::publish(repo_.path(), {{"other.bin", "other", 8}, {"saved.resume", "listed", 9}}, 4096);
    writeFile(install_ / "saved.resume", "an older version");
    {
        RepoSync planOnly(install_.path(), address());
        planOnly.setFetchWhilePlanning(false);
        for (const RemoteFile& file : planOnly.listFiles()) {
            planOnly.prepareFile(file, nullptr);
        }
        planOnly.totalDownloadBytes();
    }
    EXPECT_TRUE(PathExists(install_ / "big.bin.resume")) << "a plan alone changed the folder";

    run();
    EXPECT_FALSE(PathExists(install_ / "big.bin.resume"));
    EXPECT_EQ(readFile(install_ / "notes.resume"), "the player's own file");
    expectInstalled({{"other.bin", "other", 8}, {"saved.resume", "listed", 9}});
}

TEST_F(ResumeTest, ACurrentFileLeavesNoResumeDataBehind) {
    const std::string content = randomBytes(kSize, 94);
    test::publish(repo_.path(), {{"big.bin", content, 7}}, 4096);
    breakAtNinetyPercent();
    writeFile(install_ / "big.bin", content);
    ASSERT_TRUE(SetLastWriteTimeOfEntry(install_ / "big.bin", 7));
    run();
    EXPECT_FALSE(PathExists(install_ / "big.bin.resume"));
}

}  // namespace
}  // namespace veldmoor
