#include "system/folder_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace veldmoor {
namespace {

TEST(FolderLock, OneHolderAtATimeAndFreeAgainOnceReleased) {
    const test::TempDir folder{"veldmoor-lock"};
    FolderLock::Outcome outcome = FolderLock::Outcome::Failed;
    std::string error;
    auto first = FolderLock::TryLock(folder.path(), outcome, error);
    ASSERT_NE(first, nullptr) << error;
    EXPECT_EQ(outcome, FolderLock::Outcome::Locked);

    EXPECT_EQ(FolderLock::TryLock(folder.path(), outcome, error), nullptr);
    EXPECT_EQ(outcome, FolderLock::Outcome::HeldElsewhere);
    EXPECT_FALSE(error.empty());

    first.reset();
    EXPECT_NE(FolderLock::TryLock(folder.path(), outcome, error), nullptr);
    EXPECT_EQ(outcome, FolderLock::Outcome::Locked);
    // Nothing was added to the folder for the lock.
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST(FolderLock, AMissingFolderOrAFileFailsWithAReason) {
    const test::TempDir folder{"veldmoor-lock"};
    test::WriteTestFile(folder / "file", "x");
    for (const std::string& path : {folder / "missing", folder / "file"}) {
        FolderLock::Outcome outcome = FolderLock::Outcome::Locked;
        std::string error;
        EXPECT_EQ(FolderLock::TryLock(path, outcome, error), nullptr) << path;
        EXPECT_EQ(outcome, FolderLock::Outcome::Failed) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
}

}  // namespace
}  // namespace veldmoor
