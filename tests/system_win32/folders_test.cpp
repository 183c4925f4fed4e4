// Well-known folders through the shell and the kernel, the private folder of the temporary copy,
// and the test for Wine.
// windows.h (through the helper's header) comes first: shlobj.h builds on it.
#include "tests/system_win32/helper_process.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include "system/file_ops.h"
#include "system/folders.h"
#include "system/path.h"
#include "system/platform.h"
#include "system/private_directory.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

TEST(Folders, TemporaryDirectoryIsTheSystemsWithItsBackslash) {
    std::vector<wchar_t> expected(MAX_PATH + 1);
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(expected.size()), expected.data());
    const std::string folder = TemporaryDirectory();
    EXPECT_EQ(folder, NarrowText(std::wstring_view(expected.data(), length)));
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_TRUE(IsDirectory(folder));
    const std::string own = UserTemporaryFolder("veldmoor-fonts");
    EXPECT_EQ(own.rfind(folder + "veldmoor-fonts-", 0), 0u) << own;
    EXPECT_GT(own.size(), (folder + "veldmoor-fonts-").size());
}

TEST(Folders, CurrentDirectoryFollowsAFolderWithUmlauts) {
    const test::TempFolder folder;
    const std::string inner = folder / "M\xC3\xBChle";
    ASSERT_TRUE(MakeDirectory(inner));
    const std::string before = CurrentDirectory();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(ChangeCurrentFolder(inner));
    const std::string now = CurrentDirectory();
    EXPECT_TRUE(ChangeCurrentFolder(before));
    EXPECT_TRUE(EqualsNoCase(now, inner)) << now;
    EXPECT_FALSE(ChangeCurrentFolder(folder / "missing"));
    EXPECT_FALSE(ChangeCurrentFolder(""));
    EXPECT_EQ(CurrentDirectory(), before);
}

TEST(Folders, DocumentsComeFromTheShellUnlessOverridden) {
    {
        const test::ScopedVariable overridden(L"VELDMOOR_DOCUMENTS_DIR", "C:\\Test\\Dokumente\\");
        EXPECT_EQ(DocumentsFolder(), "C:\\Test\\Dokumente");
        EXPECT_EQ(DesktopUserDocumentsFolder(), "C:\\Test\\Dokumente");
    }
    const test::ScopedVariable cleared(L"VELDMOOR_DOCUMENTS_DIR", "");
    wchar_t* shell = nullptr;
    ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &shell), S_OK);
    const std::string expected = NarrowText(shell);
    ::CoTaskMemFree(shell);
    EXPECT_EQ(DocumentsFolder(), expected);
    EXPECT_EQ(DesktopUserDocumentsFolder(), expected);
    EXPECT_EQ(DocumentsFolderOfHome("C:\\Users\\spieler"), "C:\\Users\\spieler\\Documents");
    EXPECT_EQ(DocumentsFolderOfHome(""), "");
}

TEST(Folders, TheProgramFileAndItsFolder) {
    const std::string program = ProgramFilePath();
    EXPECT_EQ(program, test::TestProgram());
    EXPECT_TRUE(EqualsNoCase(FileNameOf(program), "system_win32_tests.exe")) << program;
    EXPECT_EQ(LauncherFolder(), DirectoryOf(program));
    EXPECT_TRUE(IsDirectory(LauncherFolder()));
    const std::string games = SuggestedGamesFolder();
    EXPECT_TRUE(IsDirectory(games)) << games;
}

TEST(PrivateDirectory, MadeForThisUserAloneAndRefusedOverAFile) {
    const test::TempFolder folder;
    const std::string copyFolder = folder / "VeldmoorLauncher";
    ASSERT_TRUE(EnsurePrivateDirectory(copyFolder));
    EXPECT_TRUE(IsDirectory(copyFolder));
    EXPECT_TRUE(EnsurePrivateDirectory(copyFolder));  // already there and this user's
    test::WriteFile(folder / "plain", "x");
    EXPECT_FALSE(EnsurePrivateDirectory(folder / "plain"));
    EXPECT_FALSE(EnsurePrivateDirectory(""));
    EXPECT_FALSE(EnsurePrivateDirectory(folder / "missing\\below"));
}

TEST(Platform, WineIsRecognisedByItsOwnRegistryKey) {
    // Wine keeps its settings under HKCU\Software\Wine; Windows has no such key.
    HKEY key = nullptr;
    const bool wineKey =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine", 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (key != nullptr) {
        ::RegCloseKey(key);
    }
    EXPECT_EQ(IsWine(), wineKey);
    EXPECT_TRUE(PlatformSupportsHttps());
}

}  // namespace
}  // namespace veldmoor
