// A fresh installation planned from the file list's sums: one request a file once enough files
// are new, the same files as through the chunk indexes, and the indexes again whenever the sums
// cannot be used.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "sync/file_sums.h"
#include "sync/file_sums_fetch.h"
#include "sync/patch_exception.h"
#include "system/file_time.h"
#include "tests/integration/repository_harness.h"
#include "tests/support/process_runner.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFiles = 40;

class FreshTreeFixture {
protected:
    FreshTreeFixture() {
        fs::create_directories(repo());
        for (std::size_t i = 0; i < kFiles; ++i) {
            // Two-digit names: the list's order is the names' order.
            const std::string name = "d" + std::to_string(i % 3) + "/f" +
                                     std::string(i < 10 ? "0" : "") + std::to_string(i) + ".bin";
            WriteTestFile(source() + "/" + name, RandomBytes(500 + (i * 311), 40 + i));
        }
        Publish(source(), repo(), {});
        server_ = StartServer(ServerKind::Project, web_.path(), "game");
    }

    std::string source() const { return work_ / "source"; }
    std::string repo() const { return web_ / "game"; }
    std::string install() const { return work_ / "install"; }
    std::string sumsPath() const { return repo() + "/filelist.sums"; }

    std::size_t requestsFor(const std::function<bool(const SeenRequest&)>& kind) const {
        std::size_t count = 0;
        for (const SeenRequest& request : server_->requests()) {
            count += kind(request) ? 1 : 0;
        }
        return count;
    }

    TempDir work_{"veldmoor-sums"};
    TempDir web_{"veldmoor-web"};
    std::unique_ptr<Server> server_;
};

// What is done to the published sums before the run, and how many chunk indexes it then costs.
struct SumsCase {
    const char* what;
    std::function<void(const std::string& sumsPath)> change;
    std::size_t indexes;
};

class FreshTreeSums : public FreshTreeFixture, public ::testing::TestWithParam<SumsCase> {};

TEST_P(FreshTreeSums, BringsTheSameFilesAskingForIndexesOnlyWhereTheSumsCannotServe) {
    GetParam().change(sumsPath());

    SyncFolder(install(), server_->address());

    EXPECT_TRUE(ReadTree(install()) == ReadTree(source()));
    for (const auto& [path, time] : ListedTimes(repo())) {
        EXPECT_EQ(LastWriteTime(install() + "/" + path), time) << path;
    }
    EXPECT_EQ(requestsFor([](const SeenRequest& r) { return r.isChunkIndex(); }),
              GetParam().indexes);
    EXPECT_EQ(requestsFor([](const SeenRequest& r) { return r.isTransfer(); }), kFiles);
}

INSTANTIATE_TEST_SUITE_P(
    Published, FreshTreeSums,
    ::testing::Values(
        SumsCase{"Intact", [](const std::string&) {}, FileSumsFetch::kFreshFilesBeforeSums},
        SumsCase{"Missing", [](const std::string& path) { fs::remove(path); }, kFiles},
        SumsCase{"Damaged",
                 [](const std::string& path) {
                     std::string text = ReadTestFile(path);
                     text[text.size() / 2] = '\n';
                     WriteTestFile(path, text);
                 },
                 kFiles},
        // Published for an earlier list: no line has the listed time.
        SumsCase{"OfAnotherList",
                 [](const std::string& path) {
                     std::string text = ReadTestFile(path);
                     std::string shifted(kFileSumsHeader);
                     shifted += '\n';
                     std::size_t at = text.find('\n') + 1;
                     while (at < text.size()) {
                         const std::size_t space = text.find(' ', at);
                         const std::size_t end = text.find('\n', at);
                         shifted += std::to_string(std::stoll(text.substr(at, space - at)) - 1);
                         shifted += text.substr(space, end + 1 - space);
                         at = end + 1;
                     }
                     WriteTestFile(path, shifted);
                 },
                 kFiles}),
    [](const ::testing::TestParamInfo<SumsCase>& info) { return std::string(info.param.what); });

class FreshTreeWrongSum : public FreshTreeFixture, public ::testing::Test {};

// A sum that does not describe the served file fails that file; it is never put in place.
TEST_F(FreshTreeWrongSum, FailsTheFileAndLeavesNothingInItsPlace) {
    std::string text = ReadTestFile(sumsPath());
    const std::size_t last = text.rfind(" d", text.size() - 1);  // the last line's path
    const std::size_t crc = text.rfind(' ', last - 1) + 1;
    text[crc] = text[crc] == '0' ? '1' : '0';
    WriteTestFile(sumsPath(), text);
    const std::string path = text.substr(last + 1, text.size() - last - 2);

    try {
        SyncFolder(install(), server_->address());
        FAIL() << "a file that disagrees with its sum was accepted";
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 3);
        EXPECT_EQ(e.code, 8);
        EXPECT_EQ(e.detail, path);
    }
    EXPECT_FALSE(fs::exists(install() + "/" + path));
    EXPECT_FALSE(fs::exists(install() + "/" + path + ".tmp"));
}

}  // namespace
}  // namespace veldmoor::test
