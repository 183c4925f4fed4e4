#include "profiles/addresses.h"

#include <gtest/gtest.h>

#include <string>

#include "profiles/repo_migration.h"
#include "system/platform.h"
#include "tests/support/scoped_env.h"

namespace veldmoor {
namespace {

using testing::ScopedEnv;

const std::string kSyncHost = VELDMOOR_SYNC_HOST;
const std::string kWebHost = VELDMOOR_WEB_HOST;

TEST(BuiltInAddresses, ComeFromTheDeploymentHosts) {
    ScopedEnv noOverride(kServerOverrideVariable, std::nullopt);
    EXPECT_EQ(MainRepoAddress(), "https://" + kSyncHost + "/srv/");
    EXPECT_EQ(BuildRepoAddress(), "https://" + kSyncHost + "/bau/");
    EXPECT_EQ(LauncherRepoAddress(), "https://" + kSyncHost + "/launcher/");
    const std::string news = "https://" + kWebHost + "/html/launcher.php";
    EXPECT_EQ(NewsPageAddress(), std::wstring(news.begin(), news.end()));
    EXPECT_NE(kSyncHost, kWebHost);
    EXPECT_EQ(LegacyMainAddress(),
              std::string("rsync://") + VELDMOOR_OLD_RSYNC_HOST_1 + ":/Veldmoor.Patch");
    EXPECT_EQ(LegacyBuildAddressOnUpdateServer(),
              std::string("rsync://") + VELDMOOR_OLD_RSYNC_HOST_1 + ":/Veldmoor.Bau");
    EXPECT_EQ(LegacyBuildAddressOnBuildServer(),
              std::string("rsync://") + VELDMOOR_OLD_RSYNC_HOST_2 + ":/Veldmoor.Bau");
}

TEST(BuiltInAddresses, OverrideReplacesSchemeAndHostOfAllFour) {
    ScopedEnv loopback(kServerOverrideVariable, "http://127.0.0.1:8080/");
    EXPECT_EQ(MainRepoAddress(), "http://127.0.0.1:8080/srv/");
    EXPECT_EQ(BuildRepoAddress(), "http://127.0.0.1:8080/bau/");
    EXPECT_EQ(LauncherRepoAddress(), "http://127.0.0.1:8080/launcher/");
    EXPECT_EQ(NewsPageAddress(), L"http://127.0.0.1:8080/html/launcher.php");
    EXPECT_EQ(LegacyMainAddress().find("127.0.0.1"), std::string::npos);
}

TEST(BuiltInAddresses, MalformedOverrideIsIgnored) {
    for (const char* value : {"", "127.0.0.1:8080", "ftp://127.0.0.1", "http://",
                              "http://127.0.0.1/path", "http://user@evil.example"}) {
        ScopedEnv bad(kServerOverrideVariable, value);
        EXPECT_EQ(MainRepoAddress(), "https://" + kSyncHost + "/srv/") << value;
    }
}

TEST(ForceHttp, ReplacesOnlyTheFirstHttps) {
    EXPECT_EQ(ForceHttp("https://a/https://b"), "http://a/https://b");
    EXPECT_EQ(ForceHttp("http://a/"), "http://a/");
    EXPECT_EQ(ForceHttp(std::wstring(L"https://a/")), L"http://a/");
}

TEST(AdjustScheme, KeepsHttpsOnlyWhereSupported) {
    EXPECT_EQ(AdjustScheme("https://a/srv/", true), "https://a/srv/");
    EXPECT_EQ(AdjustScheme("https://a/srv/", false), "http://a/srv/");
    EXPECT_EQ(AdjustScheme(std::wstring(L"https://a/"), false), L"http://a/");
    EXPECT_EQ(AdjustScheme(std::wstring(L"https://a/"), true), L"https://a/");
    // HTTPS everywhere but under Wine (where the Windows build's tests run on Linux).
    const bool underWine = IsWine();
    EXPECT_EQ(SupportsHttps(), !underWine);
    EXPECT_EQ(AdjustScheme("https://a/"), underWine ? "http://a/" : "https://a/");
}

PatchContextList WithRepoPaths(std::initializer_list<std::string> repoPaths) {
    PatchContextList list;
    for (const std::string& repoPath : repoPaths) {
        PatchContext profile;
        profile.Name = "p";
        profile.RepoPath = repoPath;
        list.Add(profile);
    }
    return list;
}

class RepoMigration : public ::testing::Test {
protected:
    ScopedEnv override_{kServerOverrideVariable, "https://sync.test"};
};

TEST_F(RepoMigration, RewritesEveryKnownFormToTheSchemeOfTheSystem) {
    const std::string legacyMain = LegacyMainAddress();
    std::string upperLegacyBuild = LegacyBuildAddressOnBuildServer();
    for (char& c : upperLegacyBuild) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    PatchContextList list = WithRepoPaths(
        {legacyMain, LegacyBuildAddressOnUpdateServer(), upperLegacyBuild, "https://sync.test/srv/",
         "HTTPS://SYNC.TEST/BAU/", "http://sync.test/srv/", "http://sync.test/bau/",
         "https://sync.test/other/", "https://sync.test/srv", " https://sync.test/srv/"});

    MigrateRepoPaths(list, false);
    const char* expectedHttp[] = {"http://sync.test/srv/", "http://sync.test/bau/",
                                  "http://sync.test/bau/", "http://sync.test/srv/",
                                  "http://sync.test/bau/", "http://sync.test/srv/",
                                  "http://sync.test/bau/", "https://sync.test/other/",
                                  "https://sync.test/srv", " https://sync.test/srv/"};
    for (std::size_t i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.At(i)->RepoPath, expectedHttp[i]) << i;
    }

    MigrateRepoPaths(list, true);
    const char* expectedHttps[] = {"https://sync.test/srv/", "https://sync.test/bau/",
                                   "https://sync.test/bau/", "https://sync.test/srv/",
                                   "https://sync.test/bau/", "https://sync.test/srv/",
                                   "https://sync.test/bau/", "https://sync.test/other/",
                                   "https://sync.test/srv",  " https://sync.test/srv/"};
    for (std::size_t i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.At(i)->RepoPath, expectedHttps[i]) << i;
    }
}

TEST_F(RepoMigration, DefaultProfileIsTheFirstOnTheMainRepository) {
    PatchContextList list = WithRepoPaths(
        {"https://sync.test/bau/", "HTTPS://Sync.Test/srv/", "https://sync.test/srv/"});
    EXPECT_EQ(EnsureDefaultProfile(list, true), 1u);
    EXPECT_EQ(list.Count(), 3u);
}

TEST_F(RepoMigration, MissingDefaultProfileIsAppendedWithTheDefaultValues) {
    PatchContextList list = WithRepoPaths({"https://sync.test/bau/", "https://sync.test/srv/"});
    list.SetLastSelected(1);
    // Under the http scheme the stored https address is not the default profile.
    EXPECT_EQ(EnsureDefaultProfile(list, false), 2u);
    ASSERT_EQ(list.Count(), 3u);
    const PatchContext& added = *list.At(2);
    EXPECT_EQ(added.Name, "Standardprofil");
    EXPECT_EQ(added.RepoPath, "http://sync.test/srv/");
    EXPECT_TRUE(added.PatchPath.empty());
    EXPECT_TRUE(added.ExecuteAfterPatch.empty());
    EXPECT_FALSE(added.AutoPatch);
    EXPECT_FALSE(added.SetRegistryPath);
    EXPECT_EQ(list.LastSelected(), 1u);
    // Asking again finds it.
    EXPECT_EQ(EnsureDefaultProfile(list, false), 2u);
    EXPECT_EQ(list.Count(), 3u);
}

TEST_F(RepoMigration, EmptyListGetsTheDefaultProfileAtIndexZero) {
    PatchContextList list;
    EXPECT_EQ(EnsureDefaultProfile(list), 0u);
    EXPECT_EQ(list.At(0)->RepoPath, IsWine() ? "http://sync.test/srv/" : "https://sync.test/srv/");
}

}  // namespace
}  // namespace veldmoor
