// veldmoor-sync as a real process under faults, against the project's repository server on a
// free loopback port.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <thread>

#include "system/file_ops.h"
#include "system/file_time.h"
#include "tests/support/process_runner.h"
#include "tests/support/served_repository.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/sync_fixture.h"
#include "tests/sync_faults/child_process.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kBlock = 4096;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every entry below `folder`, as paths relative to it.
std::vector<std::string> EntriesBelow(const std::string& folder) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        entries.push_back(fs::relative(entry.path(), folder).generic_string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// Waits for `condition` with a deadline; false when it never held.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class SyncProcess : public ::testing::Test {
protected:
    SyncProcess() : server_(RepoServerOptions{.root = temp_ / "served"}) {}

    void SetUp() override {
        ASSERT_TRUE(MakeDirectory(temp_ / "served"));
        ASSERT_TRUE(MakeDirectory(install()));
        StartServing(server_);
    }

    std::string install() const { return temp_ / "install"; }
    std::string file() const { return temp_ / "install/data/big.bin"; }
    std::string address(const std::string& repo) const {
        return server_.baseUrl() + "/" + repo + "/";
    }
    void Publish(const std::string& repo, const std::string& content, std::int64_t time) {
        test::publish(temp_ / ("served/" + repo), {{"data/big.bin", content, time}}, kBlock);
    }
    std::unique_ptr<ChildProcess> Start(const std::string& repo,
                                        std::optional<unsigned long long> limit = std::nullopt,
                                        const std::string& output = "output") {
        return std::make_unique<ChildProcess>(
            SyncProgram(), std::vector<std::string>{"--quiet", install(), address(repo)},
            temp_ / output, limit);
    }
    std::string Output(const std::string& output = "output") const {
        return ReadTestFile(temp_ / output);
    }

    TempDir temp_{"veldmoor-sync-faults"};
    RepoServer server_;
};

// Two versions of a large file that share every other 256 KiB, so a rebuild copies from the
// old file and downloads in turn.
struct TwoVersions {
    std::string a;
    std::string b;
    TwoVersions() : a(randomBytes(8u << 20, 41)), b(a) {
        const std::string fresh = randomBytes(b.size(), 42);
        for (std::size_t at = 0; at < b.size(); at += 512u << 10) {
            b.replace(at, 256u << 10, fresh, at, 256u << 10);
        }
    }
};

TEST_F(SyncProcess, KilledAtRandomMomentsTheFileIsAlwaysTheOldOrTheNewOne) {
    const TwoVersions versions;
    Publish("a", versions.a, 1500000000);
    Publish("b", versions.b, 1600000000);
    const std::uint32_t crcA = crcOf(versions.a);
    const std::uint32_t crcB = crcOf(versions.b);

    ASSERT_EQ(RunProgram(SyncProgram(), {"--quiet", install(), address("a")}).exitCode, 0);
    // The quickest of three undisturbed rebuilds sets the span in which the kills fall, so a
    // busy machine's slow run does not let most runs end before their kill.
    auto span = std::chrono::microseconds::max();
    for (const char* repo : {"b", "a", "b"}) {
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(RunProgram(SyncProgram(), {"--quiet", install(), address(repo)}).exitCode, 0);
        span = std::min(span, std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - started));
    }

    std::mt19937 random(20261208);
    int keptOld = 0;
    int tookNew = 0;
    int finished = 0;
    constexpr int kRuns = 60;
    for (int run = 0; run < kRuns; ++run) {
        const std::uint32_t before = test::crcOf(ReadTestFile(file()));
        const bool towardsB = before == crcA;
        auto child = Start(towardsB ? "b" : "a");
        const auto moment = std::chrono::microseconds(
            std::uniform_int_distribution<long long>(0, span.count())(random));
        if (child->Wait(std::chrono::duration_cast<std::chrono::milliseconds>(moment))) {
            ++finished;
        } else {
            child->Signal(SIGKILL);
            ASSERT_TRUE(child->Wait(10s));
        }
        const std::uint32_t after = test::crcOf(ReadTestFile(file()));
        ASSERT_TRUE(after == crcA || after == crcB) << "run " << run << ": a mix of both";
        // A file with the new time is complete: no later run would ever look at it again.
        const std::int64_t time = LastWriteTime(file());
        ASSERT_TRUE((after == crcA && time != 1600000000) || (after == crcB && time == 1600000000))
            << "run " << run << ": content and time disagree";
        (after == before ? keptOld : tookNew) += 1;
    }
    std::cout << "kill -9 runs: " << kRuns << " (" << keptOld << " kept the old file, " << tookNew
              << " left the new one, " << finished << " of them ended before the kill)\n";
    RecordProperty("kept_old", keptOld);
    RecordProperty("took_new", tookNew);
    EXPECT_GE(kRuns - finished, kRuns / 4) << "the runs must end by their kills, not by themselves";

    // The next whole run leaves the listed file and nothing else.
    ASSERT_EQ(RunProgram(SyncProgram(), {"--quiet", install(), address("b")}).exitCode, 0);
    EXPECT_EQ(test::crcOf(ReadTestFile(file())), crcB);
    EXPECT_EQ(EntriesBelow(install()), (std::vector<std::string>{"data", "data/big.bin"}));
}

TEST_F(SyncProcess, KilledWhileAFreshTreeIsPutInPlaceEveryFileIsMissingOrComplete) {
    // More files than one batch, so that they are forced to the drive together and moved in
    // several batches: a kill between two moves must leave no file short or with its time early.
    std::vector<ListedEntry> entries;
    for (int i = 0; i < 300; ++i) {
        entries.push_back({"d" + std::to_string(i % 7) + "/f" + std::to_string(i),
                           randomBytes(1000 + (i * 37 % 8) * 500, 500 + i), 1600000000 + i});
    }
    test::publish(temp_ / "served/t", entries, kBlock);
    const std::string first = install() + "/" + entries.front().repoPath;

    std::mt19937 random(20261209);
    std::size_t partial = 0;  // runs killed with some files in place and not others
    constexpr int kRuns = 6;
    for (int run = 0; run < kRuns; ++run) {
        fs::remove_all(install());
        ASSERT_TRUE(MakeDirectory(install()));
        auto child = Start("t");
        // Killed within moments of the first move, while the batches are being put in place.
        ASSERT_TRUE(WaitFor([&] { return PathExists(first); }, 120s)) << Output();
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 40)(random)));
        child->Signal(SIGKILL);
        ASSERT_TRUE(child->Wait(10s));
        std::size_t present = 0;
        for (const ListedEntry& entry : entries) {
            const std::string path = install() + "/" + entry.repoPath;
            if (!PathExists(path)) {
                continue;
            }
            ++present;
            ASSERT_EQ(ReadTestFile(path), entry.content) << "run " << run << ": " << entry.repoPath;
            ASSERT_EQ(LastWriteTime(path), entry.time) << "run " << run << ": " << entry.repoPath;
        }
        partial += present < entries.size() ? 1 : 0;
    }
    std::cout << "kill -9 runs of a fresh tree: " << kRuns << " (" << partial
              << " left part of it in place)\n";
    EXPECT_GE(partial, 1u) << "no kill fell between the first file's move and the last one's";

    // The next whole run, from what the last kill left, completes the tree and leaves nothing else.
    ASSERT_EQ(RunProgram(SyncProgram(), {"--quiet", install(), address("t")}).exitCode, 0);
    std::set<std::string> expected;
    for (const ListedEntry& entry : entries) {
        EXPECT_EQ(ReadTestFile(install() + "/" + entry.repoPath), entry.content);
        expected.insert(entry.repoPath);
        expected.insert(entry.repoPath.substr(0, entry.repoPath.find('/')));
    }
    const std::vector<std::string> below = EntriesBelow(install());
    EXPECT_EQ(std::set<std::string>(below.begin(), below.end()), expected);
}

TEST_F(SyncProcess, AFullDriveIsReportedAsSuchAndLeavesNothingBehind) {
    const std::string old = randomBytes(256u << 10, 43);
    WriteTestFile(file(), old);
    Publish("a", randomBytes(4u << 20, 44), 1500000000);

    auto child = Start("a", 1u << 20);  // no file may grow past 1 MiB
    ASSERT_TRUE(child->Wait(60s));
    const std::string output = Output();
    EXPECT_EQ(child->ExitCode(), 1) << output;
    EXPECT_TRUE(Contains(output, "nicht genug Platz")) << output;
    EXPECT_TRUE(Contains(output, "Not enough space on the drive")) << output;
    EXPECT_TRUE(Contains(output, "4,0 MB") || Contains(output, "4.0 MB") ||
                Contains(output, "4194304"))
        << output;
    EXPECT_FALSE(Contains(output, "Integrit")) << output;
    EXPECT_EQ(ReadTestFile(file()), old);
    EXPECT_EQ(EntriesBelow(install()), (std::vector<std::string>{"data", "data/big.bin"}));
}

TEST_F(SyncProcess, ASecondRunOnTheFolderGivesWayAndAStopSignalCleansUp) {
    const TwoVersions versions;
    WriteTestFile(file(), versions.a);
    Publish("b", versions.b, 1600000000);
    // The first run stalls in its range request, holding the folder and its temporary file.
    server_.setFaults(ServerFaults{.stall = 60s});
    auto first = Start("b", std::nullopt, "first");
    ASSERT_TRUE(WaitFor([&] { return PathExists(file() + ".tmp"); }, 30s)) << Output("first");

    auto second = Start("b", std::nullopt, "second");
    ASSERT_TRUE(second->Wait(30s));
    const std::string said = Output("second");
    EXPECT_EQ(second->ExitCode(), 1) << said;
    EXPECT_TRUE(Contains(said, "Eine andere Aktualisierung des Ordners")) << said;
    EXPECT_TRUE(Contains(said, "Another update of the folder")) << said;

    for (const int number : {SIGTERM, SIGINT}) {
        if (number == SIGINT) {
            first = Start("b", std::nullopt, "first");
            ASSERT_TRUE(WaitFor([&] { return PathExists(file() + ".tmp"); }, 30s));
        }
        first->Signal(number);
        ASSERT_TRUE(first->Wait(30s)) << "signal " << number;
        EXPECT_EQ(first->ExitCode(), 128 + number) << Output("first");
        EXPECT_TRUE(Contains(Output("first"), "stopped")) << Output("first");
        EXPECT_EQ(test::crcOf(ReadTestFile(file())), test::crcOf(versions.a));
        EXPECT_EQ(EntriesBelow(install()), (std::vector<std::string>{"data", "data/big.bin"}));
    }
}

TEST_F(SyncProcess, AStopWithPartOfALargeFileSaysWhatItKeptToResumeFrom) {
    Publish("a", randomBytes(8u << 20, 45), 1500000000);
    const std::string served = "/a/transfer/data/big.bin";
    const auto asked = [&] {
        std::size_t count = 0;
        for (const auto& request : server_.requests()) {
            count += request.path == served ? 1 : 0;
        }
        return count;
    };
    // The first answer ends after 3 MiB; the next one stalls, so the run holds what came.
    server_.setFaults(
        ServerFaults{.closeAfterBytes = 3u << 20, .alsoWholeAnswers = true, .onlyPath = served});
    auto child = Start("a");
    ASSERT_TRUE(WaitFor([&] { return asked() >= 1; }, 30s)) << Output();
    server_.setFaults(ServerFaults{.stall = 60s, .alsoWholeAnswers = true, .onlyPath = served});
    ASSERT_TRUE(WaitFor([&] { return asked() >= 2; }, 30s)) << Output();

    child->Signal(SIGINT);
    ASSERT_TRUE(child->Wait(30s));
    EXPECT_EQ(child->ExitCode(), 128 + SIGINT) << Output();
    EXPECT_TRUE(PathExists(file() + ".resume"));
    EXPECT_TRUE(Contains(Output(), "big.bin.resume")) << Output();
    EXPECT_FALSE(Contains(Output(), "nothing half written")) << Output();
}

TEST_F(SyncProcess, NamesMeantForTheTerminalArePrintedEscaped) {
    // An operating-system command (set the window title) and a colour change in listed names.
    const std::string title = "t\x1b]0;owned\x07.txt";
    const std::string colour = "\x1b[31mred/../x";
    test::publish(temp_ / "served/a", {{title, "x", 5}}, kBlock);
    const auto dry = RunProgram(SyncProgram(), {"--dry-run", install(), address("a")});
    EXPECT_EQ(dry.exitCode, 0) << dry.output;
    EXPECT_FALSE(Contains(dry.output, "\x1b")) << dry.output;
    EXPECT_TRUE(Contains(dry.output, "t\\x1b]0;owned\\x07.txt")) << dry.output;

    WriteTestFile(temp_ / "served/a/filelist.php", "{ path: \"" + colour + "\", time: \"5\" }\n");
    const auto refused = RunProgram(SyncProgram(), {install(), address("a")});
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_FALSE(Contains(refused.output, "\x1b")) << refused.output;
    EXPECT_TRUE(Contains(refused.output, "\\x1b[31mred/../x")) << refused.output;
    EXPECT_TRUE(Contains(refused.output, "'..'")) << refused.output;
}

}  // namespace
}  // namespace veldmoor::test
