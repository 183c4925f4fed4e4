#include "system/file_ops.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

class ReplaceFileTest : public ::testing::Test {
protected:
    ReplaceFileTest() {
        std::string pattern = (fs::temp_directory_path() / "veldmoor-file-ops-XXXXXX").string();
        folder_ = mkdtemp(pattern.data());
    }
    ~ReplaceFileTest() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string Write(const std::string& name, const std::string& bytes, mode_t mode) {
        std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        ::chmod(path.c_str(), mode);
        return path;
    }
    static std::string Read(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }

    std::string folder_;
};

// A program replaced by its update must still be a program that can be run.
TEST_F(ReplaceFileTest, TheNewFileTakesTheReplacedFilesPermissions) {
    const std::string program = Write("Launcher.exe", "version 1", 0755);
    const std::string update = Write("Launcher.exe.tmp", "version 2", 0644);
    ASSERT_TRUE(ReplaceFileByRename(update, program));
    EXPECT_EQ(Read(program), "version 2");
    EXPECT_EQ(ModeOf(program), 0755U);
    EXPECT_FALSE(fs::exists(update));

    const std::string data = Write("private.cfg", "old", 0600);
    ASSERT_TRUE(ReplaceFileByRename(Write("private.cfg.tmp", "new", 0644), data));
    EXPECT_EQ(ModeOf(data), 0600U);
}

TEST_F(ReplaceFileTest, ANewFileKeepsItsOwnPermissionsAndAMissingSourceFails) {
    const std::string target = folder_ + "/new.bin";
    ASSERT_TRUE(ReplaceFileByRename(Write("new.bin.tmp", "n", 0640), target));
    EXPECT_EQ(ModeOf(target), 0640U);

    const std::string kept = Write("kept.bin", "kept", 0700);
    EXPECT_FALSE(ReplaceFileByRename(folder_ + "/missing.tmp", kept));
    EXPECT_EQ(Read(kept), "kept");
    EXPECT_EQ(ModeOf(kept), 0700U);
}

}  // namespace
}  // namespace veldmoor
