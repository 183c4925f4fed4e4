// UTF-8 inside, UTF-16 at the system: names with letters beyond ASCII and paths beyond the
// classic length limit reach the file system unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "system/file_ops.h"
#include "system/folder_entries.h"
#include "system/new_file.h"
#include "system/path.h"
#include "system/text_encoding.h"
#include "tests/support/result_assertions.h"
#include "tests/system_win32/helper_process.h"

namespace veldmoor {
namespace {

TEST(TextEncoding, RoundTripsUtf8AndReplacesBrokenText) {
    const std::string text = "Veldmoor \xC3\xBC\xE2\x82\xAC \xF0\x9F\x8E\xB2";
    const std::wstring wide = WidenText(text);
    EXPECT_EQ(wide, L"Veldmoor \u00FC\u20AC \U0001F3B2");
    EXPECT_EQ(wide.size(), 14u);  // the die takes two UTF-16 units
    EXPECT_EQ(NarrowText(wide), text);
    EXPECT_EQ(WidenText("a\xFF"
                        "b"),
              L"a\uFFFDb");
    EXPECT_EQ(WidenText("\xC3"), L"\uFFFD");
    EXPECT_EQ(NarrowText(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(WidenText(""), L"");
    EXPECT_EQ(NarrowText(L""), "");
}

TEST(TextEncoding, AUtf8NameReachesTheFileSystemAsItsLetters) {
    const test::TempFolder folder;
    const std::string name = "Spielst\xC3\xA4nde \xE2\x82\xAC";
    const std::string path = AppendPathComponent(folder.Path(), name);
    ASSERT_TRUE(MakeDirectory(path));
    // Seen through the wide API directly: the letters, not their bytes in a code page.
    EXPECT_NE(
        ::GetFileAttributesW((WidenText(folder.Path()) + L"\\Spielst\u00E4nde \u20AC").c_str()),
        INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FolderEntryNames(folder.Path()), std::vector<std::string>{name});

    // The standard library's streams and std::filesystem see the same name through PathFromUtf8.
    std::ofstream(PathFromUtf8(AppendPathComponent(path, "a.txt"))) << "x";
    EXPECT_EQ(test::ReadFile(AppendPathComponent(path, "a.txt")), "x");
    EXPECT_EQ(Utf8FromPath(PathFromUtf8(path).filename()), name);
}

TEST(LongPaths, FilesBeyondTheClassicLimitAreMadeReadAndReplaced) {
    const test::TempFolder folder;
    std::string path = folder.Path();
    while (path.size() < 300) {
        path = AppendPathComponent(path, std::string(40, 'd'));
        ASSERT_TRUE(MakeDirectory(path)) << path.size();
    }
    EXPECT_TRUE(IsDirectory(path));
    const std::string file = AppendPathComponent(path, "long.bin");
    auto created = test::ValueOf(NewFile::Create(file));
    ASSERT_NE(created, nullptr);
    created->Stream() << "far down";
    ASSERT_TRUE(test::Done(created->MoveOver(file)));
    created.reset();
    EXPECT_EQ(FileSize(file), 8);
    EXPECT_EQ(KindOf(file), PathKind::File);
    EXPECT_EQ(FolderEntryNames(path), std::vector<std::string>{"long.bin"});
    EXPECT_TRUE(RemoveFile(file));
    EXPECT_FALSE(PathExists(file));
}

TEST(PathHelpers, JoinWithTheBackslash) {
    EXPECT_EQ(AppendPathComponent("C:\\Spiele", "client.exe"), "C:\\Spiele\\client.exe");
    EXPECT_EQ(AppendPathComponent("C:\\Spiele\\", "\\client.exe"), "C:\\Spiele\\client.exe");
    EXPECT_EQ(AppendPathComponent("C:/Spiele/", "client.exe"), "C:/Spiele/client.exe");
}

}  // namespace
}  // namespace veldmoor
