// Writing a file's copy and chunk index into a repository: the pair a client fetches must
// never be left mismatched by a failed write.
#include "tools/publish/chunk_index_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/result_assertions.h"
#include "tests/support/unique_temp_folder.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

class ChunkIndexWriter : public ::testing::Test {
protected:
    ChunkIndexWriter() : folder_(test::MakeUniqueTempFolder("veldmoor-index")) {}
    ~ChunkIndexWriter() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    static void write(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string folder_;
};

TEST_F(ChunkIndexWriter, ACopyThatCannotBePutInPlaceLeavesTheOldIndex) {
    write(path("source"), std::string(5000, 'n'));
    write(path("a.chunks"), "the old index");
    fs::create_directory(path("a"));  // stands where the copy must go
    const Result<IndexedCopy> written =
        WriteCopyAndIndex(path("source"), path("a"), path("a.chunks"), 1024);
    ASSERT_FALSE(written.Ok());
    // The failure names the copy that could not be moved.
    EXPECT_NE(written.Message().find("' to '" + path("a") + "': "), std::string::npos)
        << written.Message();
    EXPECT_EQ(read(path("a.chunks")), "the old index");
    // Neither half of the new pair stays behind under a name of its own.
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "a.chunks", "source"}));
}

TEST_F(ChunkIndexWriter, AStopLeavesTheOldPairAndNoTemporaryFile) {
    write(path("source"), std::string(5000, 'n'));
    write(path("a"), "the old copy");
    write(path("a.chunks"), "the old index");
    const Result<IndexedCopy> stopped =
        WriteCopyAndIndex(path("source"), path("a"), path("a.chunks"), 1024, [] { return true; });
    ASSERT_FALSE(stopped.Ok());
    EXPECT_EQ(stopped.Cause(), Fault::Stopped) << stopped.Message();
    EXPECT_EQ(read(path("a")), "the old copy");
    EXPECT_EQ(read(path("a.chunks")), "the old index");
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "a.chunks", "source"}));
}

TEST_F(ChunkIndexWriter, WritesTheCopyAndAnIndexOfItsBlocks) {
    write(path("source"), std::string(2500, 'n'));
    const IndexedCopy written =
        test::ValueOf(WriteCopyAndIndex(path("source"), path("a"), path("a.chunks"), 1024));
    EXPECT_EQ(written.size, 2500u);
    EXPECT_EQ(written.blocks, 3u);
    EXPECT_EQ(read(path("a")), std::string(2500, 'n'));
    EXPECT_EQ(fs::file_size(path("a.chunks")), 12u + 3u * 12u);
    EXPECT_EQ(IndexBlockSize(path("a.chunks")), 1024u);
}

}  // namespace
}  // namespace veldmoor
