// veldmoor-publish as a real process stopped at random moments of its copies: asked to stop
// (SIGINT, SIGTERM) it removes what it had half written and says so; ended abruptly (SIGKILL)
// it leaves temporary files that the next publish removes, and nothing else.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <random>
#include <thread>

#include "sync/file_list.h"
#include "system/new_file.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/sync_fixture.h"
#include "tests/sync_faults/child_process.h"

namespace veldmoor::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kFiles = 3;
constexpr std::size_t kFileSize = 12u << 20;
// A source file whose name has the form of a temporary one: published like any other.
constexpr const char* kLookalike = "keep.bin.tmp-abcdefgh";

class PublishStop : public ::testing::Test {
protected:
    std::string source() const { return temp_ / "source"; }
    std::string repo() const { return temp_ / "repo"; }
    static std::string Name(std::size_t file) { return std::to_string(file) + ".bin"; }

    // Temporary files below the repository, as paths relative to it.
    std::vector<std::string> Strays() const {
        std::vector<std::string> strays;
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(repo(), error)) {
            const std::string path = fs::relative(entry.path(), repo()).generic_string();
            if (!NewFile::TargetOfBesideName(entry.path().filename().string()).empty() &&
                path != std::string("transfer/") + kLookalike) {
                strays.push_back(path);
            }
        }
        return strays;
    }

    // The size of the temporary copy of `file` being written; -1 while there is none.
    std::int64_t TemporaryCopySize(std::size_t file) const {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(repo() + "/transfer", error)) {
            if (NewFile::TargetOfBesideName(entry.path().filename().string()) == Name(file)) {
                const auto size = fs::file_size(entry.path(), error);
                return error ? -1 : static_cast<std::int64_t>(size);
            }
        }
        return -1;
    }

    TempDir temp_{"veldmoor-publish-stop"};
};

TEST_F(PublishStop, AStopAtAnyMomentLeavesNoStrayAndTheNextRunCompletes) {
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    WriteTestFile(source() + "/" + kLookalike, "not a leftover");
    const int signals[] = {SIGINT, SIGTERM, SIGINT, SIGKILL};
    for (std::size_t round = 0; round < std::size(signals); ++round) {
        const int signal = signals[round];
        SCOPED_TRACE("round " + std::to_string(round) + ", signal " + std::to_string(signal));
        for (std::size_t file = 0; file < kFiles; ++file) {
            WriteTestFile(source() + "/" + Name(file),
                          randomBytes(kFileSize, static_cast<std::uint32_t>(random())));
        }
        // The moment: the copy of a random file has grown to a random size.
        const std::size_t file = random() % kFiles;
        const auto size = static_cast<std::int64_t>(random() % kFileSize);
        ChildProcess child(PublishProgram(), {source(), repo()}, temp_ / "output");
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (child.Running() && TemporaryCopySize(file) < size &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        child.Signal(signal);
        ASSERT_TRUE(child.Wait(60s));
        const std::string output = ReadTestFile(temp_ / "output");
        if (signal == SIGKILL || child.ExitCode() == 0) {
            continue;  // ended abruptly, or done before the signal came
        }
        EXPECT_EQ(child.ExitCode(), 128 + signal) << output;
        EXPECT_NE(output.find("stopped"), std::string::npos) << output;
        EXPECT_EQ(Strays(), std::vector<std::string>()) << output;
    }

    const std::vector<std::string> left = Strays();
    const ProgramResult last = RunProgram(PublishProgram(), {source(), repo()});
    ASSERT_EQ(last.exitCode, 0) << last.output;
    EXPECT_EQ(Strays(), std::vector<std::string>());
    for (const std::string& stray : left) {
        EXPECT_NE(last.output.find("removed " + stray), std::string::npos) << last.output;
    }
    const std::string list = ReadTestFile(repo() + "/filelist.php");
    const std::vector<FileListEntryText> listed = findFileListEntries(list);
    EXPECT_EQ(listed.size(), kFiles + 1);
    for (const FileListEntryText& entry : listed) {
        const std::string path(entry.path);
        EXPECT_TRUE(ReadTestFile(repo() + "/transfer/" + path) ==
                    ReadTestFile(source() + "/" + path))
            << path;
        EXPECT_TRUE(fs::exists(repo() + "/transfer/" + path + ".chunks")) << path;
    }
}

}  // namespace
}  // namespace veldmoor::test
