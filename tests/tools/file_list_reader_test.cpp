// Reading back the file list of an existing repository: the list may have been edited or
// damaged by hand, and a publish must still get through it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/unique_temp_folder.h"
#include "tools/publish/repository_publisher.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

class FileListReader : public ::testing::Test {
protected:
    FileListReader() : folder_(test::MakeUniqueTempFolder("veldmoor-list")) {}
    ~FileListReader() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string write(const std::string& text) {
        const std::string path = folder_ + "/filelist.php";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }

    std::string folder_;
};

TEST_F(FileListReader, ReadsWhatItWritesAndSkipsTimesNoClientCanRead) {
    const std::vector<ListedFile> files = {{"a/b.mul", 1500000000}, {"c d.txt", 0}};
    const auto read = ReadFileList(
        write(FormatFileList(files) + "{ path: \"huge\", time: \"99999999999999999999\" }"));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].path, "a/b.mul");
    EXPECT_EQ(read[0].time, 1500000000);
    EXPECT_EQ(read[1].path, "c d.txt");
    EXPECT_EQ(read[1].time, 0);
}

TEST_F(FileListReader, SurvivesAVeryLongLineThatOpensAnEntryAndNeverClosesIt) {
    const auto read = ReadFileList(
        write("{ path: \"" + std::string(4u << 20, 'x') + "\n{ path: \"kept\", time: \"7\" }\n"));
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].path, "kept");
    EXPECT_EQ(read[0].time, 7);
}

TEST(ParseFileList, ReadsEntriesFromTextInMemoryAndNothingFromNoise) {
    const auto read = ParseFileList("[\n{ path: \"a..b/c\", time: \"12\" },\n]\n");
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].path, "a..b/c");
    EXPECT_EQ(read[0].time, 12);
    EXPECT_TRUE(ParseFileList(std::string("{ path: \"") + '\0' + "\", time").empty());
}

}  // namespace
}  // namespace veldmoor
