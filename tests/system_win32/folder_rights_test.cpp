// The installation folder's rights through the security API. Wine keeps only mode bits of a
// list, so here the access check, the refusals and the walk's reach are tested, and the list
// read back as far as Wine keeps it.
// windows.h (through the helper's header) comes first: aclapi.h builds on it.
#include "tests/system_win32/helper_process.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include "system/file_ops.h"
#include "system/folder_rights.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

// The rights an entry's list allows Everyone, all its entries together.
DWORD EveryonesRights(const std::string& path) {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(WidenText(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
        return 0xFFFFFFFF;
    }
    DWORD rights = 0;
    ACL_SIZE_INFORMATION size{};
    if (list != nullptr && ::GetAclInformation(list, &size, sizeof size, AclSizeInformation) != 0) {
        SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
        PSID everyone = nullptr;
        ::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
        for (DWORD i = 0; i < size.AceCount; ++i) {
            void* entry = nullptr;
            if (::GetAce(list, i, &entry) == 0) {
                continue;
            }
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                ::EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), everyone) != 0) {
                rights |= allowed->Mask;
            }
        }
        ::FreeSid(everyone);
    }
    ::LocalFree(descriptor);
    return rights;
}

TEST(FolderRights, AccessIsCheckedAgainstTheFoldersList) {
    const test::TempFolder folder;
    EXPECT_TRUE(HasFolderAccess(folder.Path(), kFolderRead | kFolderWrite | kFolderExecute));
    EXPECT_TRUE(HasFolderAccess(folder.Path(), kFolderRead));
    EXPECT_FALSE(HasFolderAccess(folder / "missing", kFolderRead));
    test::WriteFile(folder / "file", "x");
    EXPECT_FALSE(HasFolderAccess(folder / "file", kFolderRead));  // a file is no folder
}

TEST(FolderRights, OnlyAnEmptyFolderOrOneWithTheClientIsReset) {
    const test::TempFolder folder;
    test::WriteFile(folder / "letter.txt", "not a game");
    EXPECT_FALSE(ResetFolderRights(folder.Path()));
    EXPECT_FALSE(ResetFolderRights(folder / "missing"));
    EXPECT_FALSE(ResetFolderRights("relative\\folder"));
    EXPECT_FALSE(ResetFolderRights("C:\\"));
    EXPECT_FALSE(ResetFolderRights(folder.Path() + "\\.\\"));
    EXPECT_FALSE(ResetFolderRights(folder / "letter.txt"));

    ASSERT_TRUE(MakeDirectory(folder / "empty"));
    EXPECT_TRUE(ResetFolderRights(folder / "empty"));
}

TEST(FolderRights, TheGameFolderAndEverythingBelowAreReachedAndStayUsable) {
    const test::TempFolder folder;
    test::WriteFile(folder / "CLIENT.EXE", "game");
    ASSERT_TRUE(MakeDirectory(folder / "data"));
    ASSERT_TRUE(MakeDirectory(folder / "data\\maps"));
    test::WriteFile(folder / "data\\maps\\map0.mul", "map");
    ::SetFileAttributesW(WidenText(folder / "data\\maps\\map0.mul").c_str(),
                         FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(ResetFolderRights(folder.Path()));
    for (const std::string& entry : {folder.Path(), folder / "data", folder / "data\\maps"}) {
        EXPECT_TRUE(HasFolderAccess(entry, kFolderRead | kFolderWrite | kFolderExecute)) << entry;
    }
    EXPECT_EQ(test::ReadFile(folder / "data\\maps\\map0.mul"), "map");
    // Everyone may read and run, never write: Windows keeps that entry as given, Wine its mode
    // bits (a list granting everyone more would show in them). The users' own entry Wine does
    // not keep, so it is not read back here.
    for (const std::string& entry : {folder.Path(), folder / "data"}) {
        EXPECT_EQ(EveryonesRights(entry), FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) << entry;
    }
}

}  // namespace
}  // namespace veldmoor
