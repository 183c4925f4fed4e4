#include "patch/launcher_digest.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "system/launcher_file.h"
#include "tests/support/temp_dir.h"

namespace veldmoor {
namespace {

TEST(ComputeLauncherDigest, Md5OfTheProgramFileOrNotFound) {
    const test::TempDir folder("veldmoor-digest");
    EXPECT_EQ(ComputeLauncherDigest(folder.path()), "NOTFOUND");
    const std::string program = folder / std::string(kLauncherFileName);
    test::WriteTestFile(program, "abc");
    EXPECT_EQ(ComputeLauncherDigest(folder.path()), "900150983CD24FB0D6963F7D28E17F72");
    test::WriteTestFile(program, "");
    EXPECT_EQ(ComputeLauncherDigest(folder.path()), "D41D8CD98F00B204E9800998ECF8427E");
    std::filesystem::remove(program);
    std::filesystem::create_directory(program);  // a folder in its place cannot be read
    EXPECT_EQ(ComputeLauncherDigest(folder.path()), "NOTFOUND");
}

}  // namespace
}  // namespace veldmoor
