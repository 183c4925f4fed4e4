// A game folder and files named beyond ASCII on Windows, end to end: published, served by the
// in-process server and installed, then updated, by RepoSync. Every narrow path on the way is
// UTF-8 and must reach the file system as the same name in UTF-16.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "sync/remote_file.h"
#include "sync/repo_sync.h"
#include "system/text_encoding.h"
#include "tests/support/result_assertions.h"
#include "tests/support/served_repository.h"
#include "tools/publish/repository_publisher.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

fs::path FreshFolder() {
    std::vector<wchar_t> temporary(MAX_PATH + 1);
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(temporary.size()), temporary.data());
    std::random_device random;
    for (;;) {
        const std::wstring folder =
            std::wstring(temporary.data(), length) + L"veldmoor-sync-" + std::to_wstring(random());
        if (::CreateDirectoryW(folder.c_str(), nullptr) != 0) {
            return folder;
        }
    }
}

// Each version gets its own time, `age` before now: the list tells versions apart by it.
void Write(const fs::path& path, const std::string& bytes, std::chrono::hours age) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good()) << Utf8FromPath(path);
    }
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

// One whole run, as the launcher's patch step makes it.
void Synchronise(const fs::path& install, const std::string& address) {
    RepoSync sync(Utf8FromPath(install), address);
    for (const RemoteFile& file : sync.listFiles()) {
        sync.prepareFile(file, nullptr);
    }
    sync.patchPreparedFiles(nullptr);
}

TEST(SyncNames, AFolderAndFilesNamedBeyondAsciiAreInstalledAndUpdatedByBlocks) {
    const fs::path root = FreshFolder();
    const fs::path source = root / L"Quelle";
    const fs::path repo = root / L"repo";
    const fs::path install = root / L"Spiele f\u00FCr J\u00FCrgen";
    const fs::path exercise = fs::path(L"\u00DCbung") / L"gro\u00DF.bin";
    const fs::path greeting = L"Gr\u00FC\u00DFe.txt";
    fs::create_directories(source / L"\u00DCbung");
    fs::create_directories(install);
    std::string content = RandomBytes(300000, 7);
    Write(source / exercise, content, std::chrono::hours(2));
    Write(source / greeting, "Grüße aus dem Moor\n", std::chrono::hours(2));

    PublishOptions options;
    options.sourceDir = Utf8FromPath(source);
    options.repoDir = Utf8FromPath(repo);
    ASSERT_EQ(test::ValueOf(PublishRepository(options)).files, 2u);

    RepoServer server(RepoServerOptions{.root = Utf8FromPath(repo)});
    test::StartServing(server);
    const std::string address = server.baseUrl() + "/";

    Synchronise(install, address);
    EXPECT_EQ(Read(install / exercise), content);
    EXPECT_EQ(Read(install / greeting), Read(source / greeting));

    // A change in the middle: the installed copy is read for the blocks it still holds, so only
    // the changed part comes as ranges.
    const std::string changed = RandomBytes(5000, 8);
    content.replace(150000, changed.size(), changed);
    Write(source / exercise, content, std::chrono::hours(1));
    ASSERT_EQ(test::ValueOf(PublishRepository(options)).files, 2u);
    server.clearRequests();
    Synchronise(install, address);
    EXPECT_EQ(Read(install / exercise), content);
    std::uint64_t served = 0;
    for (const ServedRequest& request : server.requests()) {
        if (!request.range.empty()) {
            served += request.bodyBytes;
        }
    }
    EXPECT_GT(served, 0u);
    EXPECT_LT(served, content.size() / 4);

    server.stop();
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

}  // namespace
}  // namespace veldmoor
