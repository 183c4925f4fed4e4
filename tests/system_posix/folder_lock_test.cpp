#include "system/folder_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/result_assertions.h"
#include "tests/support/temp_dir.h"

namespace veldmoor {
namespace {

TEST(FolderLock, OneHolderAtATimeAndFreeAgainOnceReleased) {
    const test::TempDir folder{"veldmoor-lock"};
    auto first = test::ValueOf(FolderLock::TryLock(folder.path()));
    ASSERT_NE(first, nullptr);

    const Result<std::unique_ptr<FolderLock>> second = FolderLock::TryLock(folder.path());
    ASSERT_FALSE(second.Ok());
    EXPECT_EQ(second.Cause(), Fault::HeldElsewhere);
    EXPECT_FALSE(second.Message().empty());

    first.reset();
    EXPECT_TRUE(test::Done(FolderLock::TryLock(folder.path())));
    // Nothing was added to the folder for the lock.
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST(FolderLock, AMissingFolderOrAFileFailsWithAReason) {
    const test::TempDir folder{"veldmoor-lock"};
    test::WriteTestFile(folder / "file", "x");
    for (const std::string& path : {folder / "missing", folder / "file"}) {
        const Result<std::unique_ptr<FolderLock>> lock = FolderLock::TryLock(path);
        ASSERT_FALSE(lock.Ok()) << path;
        EXPECT_EQ(lock.Cause(), Fault::Other) << path;
        EXPECT_FALSE(lock.Message().empty()) << path;
    }
}

}  // namespace
}  // namespace veldmoor
