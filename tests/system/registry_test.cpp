#include "system/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/fake_wine.h"
#include "tests/support/scoped_env.h"

namespace veldmoor {
namespace {

using testing::FakeWine;
using testing::ScopedEnv;

TEST(Registry, ReadsTheValueAsALocalPath) {
    FakeWine wine;
    wine.SetExePath("C:\\Spiele\\Veldmoor\\client.exe");
    EXPECT_EQ(ReadExePath(), (wine.prefix() / "drive_c/Spiele/Veldmoor/client.exe").string());
    // The query names the game's key and value, with Wine's diagnostics silenced.
    EXPECT_NE(wine.Calls().find("reg|query|HKEY_LOCAL_MACHINE\\Software\\Origin Worlds "
                                "Online\\Ultima Online\\1.0|/v|ExePath|/reg:32|WINEDEBUG=-all"),
              std::string::npos)
        << wine.Calls();
}

TEST(Registry, MissingValueReadsAsNone) {
    FakeWine wine;
    EXPECT_EQ(ReadExePath(), std::nullopt);
}

TEST(Registry, OverlongValueReadsAsNone) {
    FakeWine wine;
    wine.SetExePath("Z:\\" + std::string(kExePathMaxLength - 2, 'x'));
    EXPECT_EQ(ReadExePath(), std::nullopt);
    wine.SetExePath("Z:\\" + std::string(kExePathMaxLength - 3, 'x'));
    EXPECT_EQ(ReadExePath(), "/" + std::string(kExePathMaxLength - 3, 'x'));
}

TEST(Registry, WriteStoresTheWindowsFormAndReadsBack) {
    FakeWine wine;
    const Status written = WriteExePath("/opt/veldmoor game/client.exe");
    ASSERT_TRUE(written.Ok()) << written.Message();
    EXPECT_EQ(wine.StoredExePath(), "Z:\\opt\\veldmoor game\\client.exe");
    EXPECT_EQ(ReadExePath(), "/opt/veldmoor game/client.exe");
}

TEST(Registry, FailedWriteIsReported) {
    FakeWine wine;
    wine.FailWrites();
    const Status written = WriteExePath("/opt/veldmoor/client.exe");
    EXPECT_FALSE(written.Ok());
    const std::string& error = written.Message();
    EXPECT_NE(error.find("reg add"), std::string::npos) << error;
    EXPECT_EQ(wine.StoredExePath(), std::nullopt);
}

TEST(Registry, UninitialisedPrefixIsNeverTouched) {
    FakeWine wine(/*initialised=*/false);
    wine.SetExePath("Z:\\opt\\client.exe");
    EXPECT_EQ(ReadExePath(), std::nullopt);
    const Status written = WriteExePath("/opt/client.exe");
    EXPECT_FALSE(written.Ok());
    const std::string& error = written.Message();
    EXPECT_NE(error.find("no Wine prefix"), std::string::npos) << error;
    EXPECT_EQ(wine.Calls(), "");
}

TEST(Registry, WithoutWineTheValueIsMissingAndWritesFail) {
    FakeWine wine;
    wine.SetExePath("Z:\\opt\\client.exe");
    const std::string emptyBin = (wine.prefix() / "no-tools").string();
    std::filesystem::create_directories(emptyBin);
    ScopedEnv path("PATH", emptyBin);
    EXPECT_EQ(ReadExePath(), std::nullopt);
    const Status written = WriteExePath("/opt/client.exe");
    EXPECT_FALSE(written.Ok());
    const std::string& error = written.Message();
    EXPECT_NE(error.find("not installed"), std::string::npos) << error;
}

TEST(Registry, PrefixDefaultsToDotWineInHome) {
    ScopedEnv prefix("WINEPREFIX", std::nullopt);
    ScopedEnv home("HOME", "/home/player");
    EXPECT_EQ(WinePrefixFolder(), "/home/player/.wine");
    ScopedEnv set("WINEPREFIX", "/srv/prefix");
    EXPECT_EQ(WinePrefixFolder(), "/srv/prefix");
}

}  // namespace
}  // namespace veldmoor
