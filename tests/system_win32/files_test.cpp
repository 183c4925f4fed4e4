// Files and folders through the Win32 calls: kinds and sizes, times, deleting, replacing in one
// step, the exclusive new file that the engine and the publisher write through.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "system/atomic_file.h"
#include "system/file_ops.h"
#include "system/file_time.h"
#include "system/folder_entries.h"
#include "system/new_file.h"
#include "system/text_encoding.h"
#include "tests/support/result_assertions.h"
#include "tests/system_win32/helper_process.h"

namespace veldmoor {
namespace {

std::int64_t WriteTimeSeenBySystem(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(WidenText(path).c_str(), GetFileExInfoStandard, &data) == 0) {
        return -2;
    }
    ULARGE_INTEGER steps{};
    steps.LowPart = data.ftLastWriteTime.dwLowDateTime;
    steps.HighPart = data.ftLastWriteTime.dwHighDateTime;
    return static_cast<std::int64_t>(steps.QuadPart / 10000000ULL) - 11644473600LL;
}

class Files : public ::testing::Test {
protected:
    test::TempFolder folder_;
    std::string At(const std::string& name) const { return folder_ / name; }
};

TEST_F(Files, KindsSizesAndFolders) {
    test::WriteFile(At("a.bin"), std::string(1234, 'a'));
    EXPECT_EQ(FileSize(At("a.bin")), 1234);
    EXPECT_EQ(KindOf(At("a.bin")), PathKind::File);
    EXPECT_EQ(FileSize(folder_.Path()), -1);
    EXPECT_EQ(KindOf(folder_.Path()), PathKind::Folder);
    EXPECT_EQ(FileSize(At("missing")), -1);
    EXPECT_EQ(KindOf(At("missing")), PathKind::Missing);
    EXPECT_FALSE(PathExists(At("missing")));
    EXPECT_TRUE(PathExists(At("a.bin")));

    EXPECT_TRUE(MakeDirectory(At("sub")));
    EXPECT_TRUE(MakeDirectory(At("sub")));  // already there
    EXPECT_TRUE(IsDirectory(At("sub")));
    EXPECT_FALSE(IsDirectory(At("a.bin")));
    EXPECT_FALSE(MakeDirectory(At("a.bin")));        // a file has the name
    EXPECT_FALSE(MakeDirectory(At("no\\such\\x")));  // one level only

    EXPECT_GT(FreeSpaceAt(folder_.Path()), 0);
    EXPECT_EQ(FreeSpaceAt(At("missing")), -1);
}

TEST_F(Files, EntriesOfAFolder) {
    test::WriteFile(At("eins"), "1");
    test::WriteFile(At("zwei \xC3\xA4"), "2");
    ASSERT_TRUE(MakeDirectory(At("drei")));
    const std::vector<std::string> names = FolderEntryNames(folder_.Path());
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"eins", "zwei \xC3\xA4", "drei"}));
    EXPECT_TRUE(FolderEntryNames(At("missing")).empty());
}

TEST_F(Files, LastWriteTimesBeforeAndAfterTheEpochAndPast2038) {
    test::WriteFile(At("t"), "t");
    for (const std::int64_t seconds : {std::int64_t{1700000000}, std::int64_t{-86401},
                                       std::int64_t{4102444800}, std::int64_t{0}}) {
        ASSERT_TRUE(SetLastWriteTime(At("t"), seconds)) << seconds;
        EXPECT_EQ(LastWriteTime(At("t")), seconds);
        EXPECT_EQ(WriteTimeSeenBySystem(At("t")), seconds);
    }
    EXPECT_FALSE(SetLastWriteTime(At("missing"), 5));
    EXPECT_EQ(LastWriteTime(At("missing")), -1);
    EXPECT_FALSE(SetLastWriteTime(folder_.Path(), 5));  // only files
    EXPECT_EQ(LastWriteTime(folder_.Path()), -1);

    ASSERT_TRUE(MakeDirectory(At("entry")));
    EXPECT_TRUE(SetLastWriteTimeOfEntry(At("entry"), 1600000000));
    EXPECT_EQ(WriteTimeSeenBySystem(At("entry")), 1600000000);
    EXPECT_FALSE(SetLastWriteTimeOfEntry(At("missing"), 1));
}

TEST_F(Files, RemovingAFile) {
    test::WriteFile(At("gone"), "x");
    EXPECT_TRUE(RemoveFile(At("gone")));
    EXPECT_EQ(KindOf(At("gone")), PathKind::Missing);
    EXPECT_TRUE(RemoveFile(At("gone")));  // missing counts as removed
    test::WriteFile(At("read-only"), "x");
    ::SetFileAttributesW(WidenText(At("read-only")).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(RemoveFile(At("read-only")));
    EXPECT_EQ(KindOf(At("read-only")), PathKind::Missing);
    ASSERT_TRUE(MakeDirectory(At("folder")));
    EXPECT_FALSE(RemoveFile(At("folder")));
}

TEST_F(Files, ANewFileIsWrittenReadBackTimedAndMovedOver) {
    test::WriteFile(At("target"), "old content");
    test::WriteFile(At("target.tmp"), "left by a run that ended abruptly");
    auto file = test::ValueOf(NewFile::Create(At("target.tmp")));
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(test::Done(file->Reserve(10)));
    EXPECT_EQ(FileSize(At("target.tmp")), 10);
    file->Stream().seekp(5);
    file->Stream() << "world";
    file->Stream().seekp(0);
    file->Stream() << "hello";
    ASSERT_TRUE(test::Done(file->Flush()));
    std::string back;
    ASSERT_TRUE(test::Done(
        file->ReadBack([&back](const char* data, std::size_t size) { back.append(data, size); })));
    EXPECT_EQ(back, "helloworld");
    ASSERT_TRUE(test::Done(file->SetLastWriteTime(1500000000)));
    ASSERT_TRUE(test::Done(file->MoveOver(At("target"))));
    file.reset();
    EXPECT_EQ(test::ReadFile(At("target")), "helloworld");
    EXPECT_EQ(LastWriteTime(At("target")), 1500000000);
    EXPECT_EQ(KindOf(At("target.tmp")), PathKind::Missing);
}

TEST_F(Files, AClosedNewFileKeepsItsBytesAndTimeAndStillMovesOrGoes) {
    test::WriteFile(At("target"), "old");
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 256);
    }
    auto file = test::ValueOf(NewFile::Create(At("target.tmp")));
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(test::Done(file->Reserve(100)));
    file->Stream().write(bytes.data(), 3000);
    file->Stream().write(bytes.data() + 3000, 5000);
    file->Stream().seekp(8000);
    file->Stream().write(bytes.data() + 8000, 2000);
    ASSERT_TRUE(test::Done(file->Flush()));
    ASSERT_TRUE(test::Done(file->SetLastWriteTime(1500000000)));
    ASSERT_TRUE(test::Done(file->Close()));
    EXPECT_EQ(test::ReadFile(At("target.tmp")), bytes);
    file->Stream() << "more";
    EXPECT_FALSE(file->Stream().good()) << "a write after Close was taken";
    ASSERT_TRUE(test::Done(file->MoveOver(At("target"), MoveSync::Later)));
    file.reset();
    EXPECT_EQ(test::ReadFile(At("target")), bytes);
    EXPECT_EQ(LastWriteTime(At("target")), 1500000000);

    auto abandoned = test::ValueOf(NewFile::Create(At("other.tmp")));
    ASSERT_NE(abandoned, nullptr);
    abandoned->Stream() << "never moved";
    ASSERT_TRUE(test::Done(abandoned->Close()));
    abandoned.reset();
    EXPECT_FALSE(PathExists(At("other.tmp")));
}

TEST_F(Files, FilesForcedTogetherKeepTheirBytesAndTimesAndOneThatCannotBeForcedFailsAlone) {
    std::vector<std::unique_ptr<NewFile>> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(test::ValueOf(NewFile::Create(At("t" + std::to_string(i) + ".tmp"))));
        ASSERT_NE(files.back(), nullptr);
        files.back()->Stream() << "new " << i;
        ASSERT_TRUE(test::Done(files.back()->Flush()));
        ASSERT_TRUE(test::Done(files.back()->SetLastWriteTime(1500000000 + i)));
        ASSERT_TRUE(test::Done(files.back()->Close(CloseSync::Together)));
    }
    ASSERT_TRUE(RemoveFile(At("t1.tmp")));  // gone before its flush
    NewFile::ForceTogether({files[0].get(), files[1].get(), files[2].get(), files[3].get(),
                            files[4].get(), files[5].get()});
    EXPECT_FALSE(files[1]->FirstFailure().Ok());
    for (const int i : {0, 2, 3, 4, 5}) {
        ASSERT_TRUE(test::Done(files[i]->FirstFailure()));
        ASSERT_TRUE(test::Done(files[i]->MoveOver(At("t" + std::to_string(i)))));
        EXPECT_EQ(test::ReadFile(At("t" + std::to_string(i))), "new " + std::to_string(i));
        EXPECT_EQ(LastWriteTime(At("t" + std::to_string(i))), 1500000000 + i);
    }
}

TEST_F(Files, ANewFileThatIsNotMovedIsDeleted) {
    {
        auto file = test::ValueOf(NewFile::Create(At("abandoned")));
        ASSERT_NE(file, nullptr);
        file->Stream() << "half";
        EXPECT_TRUE(PathExists(At("abandoned")));
    }
    EXPECT_FALSE(PathExists(At("abandoned")));
}

TEST_F(Files, ANewFileDoesNotReplaceAFolder) {
    ASSERT_TRUE(MakeDirectory(At("in the way")));
    const Result<std::unique_ptr<NewFile>> refused = NewFile::Create(At("in the way"));
    ASSERT_FALSE(refused.Ok());
    EXPECT_EQ(refused.Cause(), Fault::IsFolder);
    EXPECT_FALSE(refused.Message().empty());

    auto file = test::ValueOf(NewFile::Create(At("x.tmp")));
    ASSERT_NE(file, nullptr);
    const Status moved = file->MoveOver(At("in the way"));
    EXPECT_FALSE(moved.Ok());
    EXPECT_EQ(moved.Cause(), Fault::IsFolder);
    EXPECT_TRUE(IsDirectory(At("in the way")));
}

TEST_F(Files, FilesBesideATargetTakeNamesOfTheirOwn) {
    test::WriteFile(At("list"), "old");
    auto first = test::ValueOf(NewFile::CreateBeside(At("list")));
    auto second = test::ValueOf(NewFile::CreateBeside(At("list")));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first->Path(), second->Path());
    EXPECT_EQ(first->Path().rfind(At("list.tmp-"), 0), 0u) << first->Path();
    EXPECT_EQ(test::ReadFile(At("list")), "old");
    first->Stream() << "new";
    ASSERT_TRUE(test::Done(first->MoveOver(At("list"))));
    first.reset();
    second.reset();
    EXPECT_EQ(test::ReadFile(At("list")), "new");
    EXPECT_EQ(FolderEntryNames(folder_.Path()), std::vector<std::string>{"list"});
    const Result<std::unique_ptr<NewFile>> missing = NewFile::CreateBeside(At("missing\\list"));
    ASSERT_FALSE(missing.Ok());
    EXPECT_NE(missing.Message().find("missing"), std::string::npos) << missing.Message();
}

TEST_F(Files, ReplacingAFileAtomicallyLeavesNothingBehind) {
    ASSERT_TRUE(test::Done(ReplaceFileAtomically(At("profiles.xml"), "<a/>")));
    ASSERT_TRUE(test::Done(ReplaceFileAtomically(At("profiles.xml"), "<b/>")));
    EXPECT_EQ(test::ReadFile(At("profiles.xml")), "<b/>");
    ASSERT_TRUE(MakeDirectory(At("folder.xml")));
    const Status replaced = ReplaceFileAtomically(At("folder.xml"), "<c/>");
    EXPECT_FALSE(replaced.Ok());
    EXPECT_NE(replaced.Message().find("folder.xml"), std::string::npos) << replaced.Message();
    const std::vector<std::string> names = FolderEntryNames(folder_.Path());
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"profiles.xml", "folder.xml"}));
}

}  // namespace
}  // namespace veldmoor
