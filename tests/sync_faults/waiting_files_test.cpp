// Files that are complete before their turn to be put in place wait closed: a slow file at the
// head of the list must not make the run hold a descriptor (and a write buffer) for every file
// finished behind it. Counted in /proc, so it runs on Linux only.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "sync/http.h"
#include "sync/patch_exception.h"
#include "sync/repo_sync.h"
#include "system/file_ops.h"
#include "tests/support/served_repository.h"
#include "tests/sync/sync_fixture.h"

namespace veldmoor {
namespace {

using test::ListedEntry;
using test::randomBytes;
using test::readFile;

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

TEST(WaitingFiles, FilesCompleteBehindAStalledOneHoldNoDescriptor) {
    constexpr std::uint32_t kBlock = 1024;
    constexpr int kFiles = 60;
    test::TempFolder repo;
    test::TempFolder install;
    std::vector<ListedEntry> entries;
    for (int i = 0; i < kFiles; ++i) {
        entries.push_back({"f" + std::to_string(100 + i), randomBytes(3 * kBlock, 300 + i), 5});
    }
    test::publish(repo.path(), entries, kBlock);
    RepoServer server(RepoServerOptions{.root = repo.path()});
    test::StartServing(server);
    // The first file's range answer never comes; its index does.
    server.setFaults(ServerFaults{.stall = std::chrono::seconds(60), .onlyPath = "/transfer/f100"});

    std::atomic<bool> stop{false};
    RepoSync sync(install.path(), server.baseUrl() + "/");
    sync.setStopRequest([&] { return stop.load(); });
    HttpSettings settings;
    settings.connections = 4;
    settings.http1Connections = 4;
    sync.setHttpSettings(settings);
    const std::size_t before = openDescriptors();
    auto run = std::async(std::launch::async, [&] {
        for (const RemoteFile& file : sync.listFiles()) {
            sync.prepareFile(file, nullptr);
        }
        sync.totalDownloadBytes();
        sync.patchPreparedFiles(nullptr);
    });

    const auto waitingBehindTheHead = [&] {
        for (int i = 1; i < kFiles; ++i) {
            if (!PathExists(install / (entries[i].repoPath + ".tmp"))) {
                return false;
            }
        }
        return true;
    };
    // Each complete file is checked and closed as soon as its last byte came; what stays open
    // is the stalled file, both ends of each connection (the server runs in this process) and
    // libcurl's own: far fewer than the files waiting.
    const std::size_t allowed = before + 2 * settings.connections + 10;
    std::size_t open = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        open = openDescriptors();
        if (waitingBehindTheHead() && open <= allowed) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // a look, not a deadline
    }
    EXPECT_TRUE(waitingBehindTheHead()) << "the files behind the stalled one did not all come";
    EXPECT_LE(open, allowed) << "descriptors open while " << kFiles - 1
                             << " files wait for their turn";
    EXPECT_FALSE(PathExists(install / entries[1].repoPath)) << "put in place before its turn";

    stop = true;
    ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_THROW(run.get(), SyncCancelled);
    // A stop keeps what came whole: the waiting files are put in place complete, the stalled
    // one not at all, and nothing temporary stays.
    EXPECT_FALSE(PathExists(install / entries[0].repoPath));
    for (const auto& entry : entries) {
        EXPECT_FALSE(PathExists(install / (entry.repoPath + ".tmp"))) << entry.repoPath;
        if (PathExists(install / entry.repoPath)) {
            EXPECT_EQ(readFile(install / entry.repoPath), entry.content) << entry.repoPath;
        }
    }
}

}  // namespace
}  // namespace veldmoor
