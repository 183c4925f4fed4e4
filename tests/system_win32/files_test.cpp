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
    FileProblem problem = FileProblem::Other;
    std::string error;
    auto file = NewFile::Create(At("target.tmp"), problem, error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_EQ(problem, FileProblem::None);
    ASSERT_TRUE(file->Reserve(10));
    EXPECT_EQ(FileSize(At("target.tmp")), 10);
    file->Stream().seekp(5);
    file->Stream() << "world";
    file->Stream().seekp(0);
    file->Stream() << "hello";
    ASSERT_TRUE(file->Flush());
    std::string back;
    ASSERT_TRUE(
        file->ReadBack([&back](const char* data, std::size_t size) { back.append(data, size); }));
    EXPECT_EQ(back, "helloworld");
    ASSERT_TRUE(file->SetLastWriteTime(1500000000));
    ASSERT_TRUE(file->MoveOver(At("target"))) << file->Error();
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
    FileProblem problem = FileProblem::Other;
    std::string error;
    auto file = NewFile::Create(At("target.tmp"), problem, error);
    ASSERT_NE(file, nullptr) << error;
    ASSERT_TRUE(file->Reserve(100));
    file->Stream().write(bytes.data(), 3000);
    file->Stream().write(bytes.data() + 3000, 5000);
    file->Stream().seekp(8000);
    file->Stream().write(bytes.data() + 8000, 2000);
    ASSERT_TRUE(file->Flush());
    ASSERT_TRUE(file->SetLastWriteTime(1500000000));
    ASSERT_TRUE(file->Close()) << file->Error();
    EXPECT_EQ(test::ReadFile(At("target.tmp")), bytes);
    file->Stream() << "more";
    EXPECT_FALSE(file->Stream().good()) << "a write after Close was taken";
    ASSERT_TRUE(file->MoveOver(At("target"), MoveSync::Later)) << file->Error();
    file.reset();
    EXPECT_EQ(test::ReadFile(At("target")), bytes);
    EXPECT_EQ(LastWriteTime(At("target")), 1500000000);

    auto abandoned = NewFile::Create(At("other.tmp"), problem, error);
    ASSERT_NE(abandoned, nullptr) << error;
    abandoned->Stream() << "never moved";
    ASSERT_TRUE(abandoned->Close());
    abandoned.reset();
    EXPECT_FALSE(PathExists(At("other.tmp")));
}

TEST_F(Files, FilesForcedTogetherKeepTheirBytesAndTimesAndOneThatCannotBeForcedFailsAlone) {
    std::vector<std::unique_ptr<NewFile>> files;
    for (int i = 0; i < 6; ++i) {
        FileProblem problem = FileProblem::Other;
        std::string error;
        files.push_back(NewFile::Create(At("t" + std::to_string(i) + ".tmp"), problem, error));
        ASSERT_NE(files.back(), nullptr) << error;
        files.back()->Stream() << "new " << i;
        ASSERT_TRUE(files.back()->Flush());
        ASSERT_TRUE(files.back()->SetLastWriteTime(1500000000 + i));
        ASSERT_TRUE(files.back()->Close(CloseSync::Together)) << files.back()->Error();
    }
    ASSERT_TRUE(RemoveFile(At("t1.tmp")));  // gone before its flush
    NewFile::ForceTogether({files[0].get(), files[1].get(), files[2].get(), files[3].get(),
                            files[4].get(), files[5].get()});
    EXPECT_NE(files[1]->Problem(), FileProblem::None);
    for (const int i : {0, 2, 3, 4, 5}) {
        ASSERT_EQ(files[i]->Problem(), FileProblem::None) << files[i]->Error();
        ASSERT_TRUE(files[i]->MoveOver(At("t" + std::to_string(i)))) << files[i]->Error();
        EXPECT_EQ(test::ReadFile(At("t" + std::to_string(i))), "new " + std::to_string(i));
        EXPECT_EQ(LastWriteTime(At("t" + std::to_string(i))), 1500000000 + i);
    }
}

TEST_F(Files, ANewFileThatIsNotMovedIsDeleted) {
    FileProblem problem = FileProblem::Other;
    std::string error;
    {
        auto file = NewFile::Create(At("abandoned"), problem, error);
        ASSERT_NE(file, nullptr) << error;
        file->Stream() << "half";
        EXPECT_TRUE(PathExists(At("abandoned")));
    }
    EXPECT_FALSE(PathExists(At("abandoned")));
}

TEST_F(Files, ANewFileDoesNotReplaceAFolder) {
    ASSERT_TRUE(MakeDirectory(At("in the way")));
    FileProblem problem = FileProblem::None;
    std::string error;
    EXPECT_EQ(NewFile::Create(At("in the way"), problem, error), nullptr);
    EXPECT_EQ(problem, FileProblem::IsFolder);
    EXPECT_FALSE(error.empty());

    auto file = NewFile::Create(At("x.tmp"), problem, error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_FALSE(file->MoveOver(At("in the way")));
    EXPECT_EQ(file->Problem(), FileProblem::IsFolder);
    EXPECT_TRUE(IsDirectory(At("in the way")));
}

TEST_F(Files, FilesBesideATargetTakeNamesOfTheirOwn) {
    test::WriteFile(At("list"), "old");
    FileProblem problem = FileProblem::Other;
    std::string error;
    auto first = NewFile::CreateBeside(At("list"), problem, error);
    auto second = NewFile::CreateBeside(At("list"), problem, error);
    ASSERT_NE(first, nullptr) << error;
    ASSERT_NE(second, nullptr) << error;
    EXPECT_NE(first->Path(), second->Path());
    EXPECT_EQ(first->Path().rfind(At("list.tmp-"), 0), 0u) << first->Path();
    EXPECT_EQ(test::ReadFile(At("list")), "old");
    first->Stream() << "new";
    ASSERT_TRUE(first->MoveOver(At("list")));
    first.reset();
    second.reset();
    EXPECT_EQ(test::ReadFile(At("list")), "new");
    EXPECT_EQ(FolderEntryNames(folder_.Path()), std::vector<std::string>{"list"});
    EXPECT_EQ(NewFile::CreateBeside(At("missing\\list"), problem, error), nullptr);
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

TEST_F(Files, ReplacingAFileAtomicallyLeavesNothingBehind) {
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(At("profiles.xml"), "<a/>", &error)) << error;
    ASSERT_TRUE(ReplaceFileAtomically(At("profiles.xml"), "<b/>", &error)) << error;
    EXPECT_EQ(test::ReadFile(At("profiles.xml")), "<b/>");
    ASSERT_TRUE(MakeDirectory(At("folder.xml")));
    EXPECT_FALSE(ReplaceFileAtomically(At("folder.xml"), "<c/>", &error));
    EXPECT_NE(error.find("folder.xml"), std::string::npos) << error;
    const std::vector<std::string> names = FolderEntryNames(folder_.Path());
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"profiles.xml", "folder.xml"}));
}

}  // namespace
}  // namespace veldmoor
