// The one way a file replaces another: a file of its own beside the target, moved over it in
// one step, and nothing left behind whatever fails.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "system/atomic_file.h"
#include "system/file_time.h"
#include "system/new_file.h"
#include "tests/support/result_assertions.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

class AtomicWrite : public ::testing::Test {
protected:
    AtomicWrite() {
        std::string pattern = (fs::temp_directory_path() / "veldmoor-atomic-XXXXXX").string();
        folder_ = mkdtemp(pattern.data());
    }
    ~AtomicWrite() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::string At(const std::string& name) const { return folder_ + "/" + name; }
    static std::string Read(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string folder_;
};

TEST_F(AtomicWrite, FilesBesideATargetTakeNamesOfTheirOwnAndTouchNothingThere) {
    std::ofstream(At("list"), std::ios::binary) << "old";
    auto first = test::ValueOf(NewFile::CreateBeside(At("list")));
    auto second = test::ValueOf(NewFile::CreateBeside(At("list")));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first->Path(), second->Path());
    EXPECT_EQ(first->Path().rfind(At("list.tmp-"), 0), 0u) << first->Path();
    EXPECT_EQ(Read(At("list")), "old");

    first->Stream() << "new";
    ASSERT_TRUE(test::Done(first->MoveOver(At("list"))));
    first.reset();
    second.reset();  // never moved: gone with its object
    EXPECT_EQ(Read(At("list")), "new");
    EXPECT_EQ(Names(), std::vector<std::string>{"list"});
}

TEST_F(AtomicWrite, AClosedFileKeepsItsBytesAndTimeAndStillMovesOrGoes) {
    std::ofstream(At("target"), std::ios::binary) << "old";
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 256);
    }
    auto file = test::ValueOf(NewFile::Create(At("target.tmp")));
    ASSERT_NE(file, nullptr);
    // Told of a small file, it buffers little: what is written past that goes out in pieces.
    ASSERT_TRUE(test::Done(file->Reserve(100)));
    file->Stream().write(bytes.data(), 3000);
    file->Stream().write(bytes.data() + 3000, 5000);
    file->Stream().seekp(8000);
    file->Stream().write(bytes.data() + 8000, 2000);
    ASSERT_TRUE(test::Done(file->Flush()));
    ASSERT_TRUE(test::Done(file->SetLastWriteTime(1500000000)));
    ASSERT_TRUE(test::Done(file->Close()));
    EXPECT_EQ(Read(At("target.tmp")), bytes);
    file->Stream() << "more";
    EXPECT_FALSE(file->Stream().good()) << "a write after Close was taken";
    ASSERT_TRUE(test::Done(file->MoveOver(At("target"), MoveSync::Later)));
    SyncMovesInFolder(folder_);
    file.reset();
    EXPECT_EQ(Read(At("target")), bytes);
    EXPECT_EQ(LastWriteTime(At("target")), 1500000000);

    auto abandoned = test::ValueOf(NewFile::Create(At("other.tmp")));
    ASSERT_NE(abandoned, nullptr);
    abandoned->Stream() << "never moved";
    ASSERT_TRUE(test::Done(abandoned->Close()));
    abandoned.reset();
    EXPECT_EQ(Names(), std::vector<std::string>{"target"});
}

TEST_F(AtomicWrite, FilesForcedTogetherMoveWithTheirBytesAndOneThatCannotBeForcedFailsAlone) {
    std::vector<std::unique_ptr<NewFile>> files;
    for (int i = 0; i < 4; ++i) {
        const std::string target = At("t" + std::to_string(i));
        std::ofstream(target, std::ios::binary) << "old";
        files.push_back(test::ValueOf(NewFile::CreateBeside(target)));
        ASSERT_NE(files.back(), nullptr);
        files.back()->Stream() << "new " << i;
        ASSERT_TRUE(test::Done(files.back()->Flush()));
        ASSERT_TRUE(test::Done(files.back()->SetLastWriteTime(1500000000 + i)));
        ASSERT_TRUE(test::Done(files.back()->Close(CloseSync::Together)));
    }
    fs::remove(files[1]->Path());  // gone before its flush: it alone cannot be forced
    NewFile::ForceTogether({files[0].get(), files[1].get(), files[2].get()});
    EXPECT_FALSE(files[1]->FirstFailure().Ok());
    EXPECT_FALSE(files[1]->MoveOver(At("t1")).Ok());
    // files[3] was left out of the batch: its move forces it on its own first.
    for (const int i : {0, 2, 3}) {
        ASSERT_TRUE(test::Done(files[i]->FirstFailure()));
        ASSERT_TRUE(test::Done(files[i]->MoveOver(At("t" + std::to_string(i)))));
        EXPECT_EQ(Read(At("t" + std::to_string(i))), "new " + std::to_string(i));
        EXPECT_EQ(LastWriteTime(At("t" + std::to_string(i))), 1500000000 + i);
    }
    EXPECT_EQ(Read(At("t1")), "old");
    files.clear();
    EXPECT_EQ(Names(), (std::vector<std::string>{"t0", "t1", "t2", "t3"}));
}

TEST_F(AtomicWrite, AMissingFolderIsReportedByName) {
    const Result<std::unique_ptr<NewFile>> file = NewFile::CreateBeside(At("missing/list"));
    ASSERT_FALSE(file.Ok());
    EXPECT_EQ(file.Cause(), Fault::Other);
    EXPECT_NE(file.Message().find("missing/list"), std::string::npos) << file.Message();
}

TEST_F(AtomicWrite, ReplacingKeepsTheModeAndLeavesNothingBehind) {
    ASSERT_TRUE(test::Done(ReplaceFileAtomically(At("profiles.xml"), "<a/>")));
    ::chmod(At("profiles.xml").c_str(), 0640);
    ASSERT_TRUE(test::Done(ReplaceFileAtomically(At("profiles.xml"), "<b/>")));
    EXPECT_EQ(Read(At("profiles.xml")), "<b/>");
    struct stat info {};
    ASSERT_EQ(::stat(At("profiles.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    fs::create_directory(At("folder.xml"));
    const Status replaced = ReplaceFileAtomically(At("folder.xml"), "<c/>");
    EXPECT_FALSE(replaced.Ok());
    EXPECT_NE(replaced.Message().find("folder.xml"), std::string::npos) << replaced.Message();
    EXPECT_TRUE(fs::is_directory(At("folder.xml")));
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder.xml", "profiles.xml"}));
}

}  // namespace
}  // namespace veldmoor
