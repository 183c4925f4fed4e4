#include "system/path.h"

#include <gtest/gtest.h>

namespace veldmoor {
namespace {

TEST(AppendPathComponent, AddsExactlyOneSeparator) {
    EXPECT_EQ(AppendPathComponent("/tmp", "VeldmoorLauncher"), "/tmp/VeldmoorLauncher");
    EXPECT_EQ(AppendPathComponent("/tmp/", "VeldmoorLauncher"), "/tmp/VeldmoorLauncher");
    EXPECT_EQ(AppendPathComponent("C:\\Temp\\", "\\Launcher.exe"), "C:\\Temp\\Launcher.exe");
    // Only a single leading separator of the component is dropped.
    EXPECT_EQ(AppendPathComponent("/a", "//b"), "/a//b");
    EXPECT_EQ(AppendPathComponent(std::wstring(L"/a"), L"b"), L"/a/b");
}

TEST(FileNameOf, TakesTextAfterTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(FileNameOf("/opt/game/Launcher"), "Launcher");
    EXPECT_EQ(FileNameOf("C:\\Games\\Launcher.exe"), "Launcher.exe");
    EXPECT_EQ(FileNameOf("Launcher"), "Launcher");
    EXPECT_EQ(DirectoryOf("/opt/game/Launcher"), "/opt/game");
    EXPECT_EQ(DirectoryOf("Launcher"), "");
}

TEST(EqualsNoCase, IgnoresAsciiCaseOnly) {
    EXPECT_TRUE(EqualsNoCase("LAUNCHER.EXE", "Launcher.exe"));
    EXPECT_FALSE(EqualsNoCase("Launcher (2).exe", "Launcher.exe"));
    EXPECT_TRUE(StartsWithNoCase("/TMP/x", "/tmp/"));
    EXPECT_FALSE(StartsWithNoCase("/tmp", "/tmp/"));
}

}  // namespace
}  // namespace veldmoor
