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
    FileProblem problem = FileProblem::Other;
    std::string error;
    auto first = NewFile::CreateBeside(At("list"), problem, error);
    auto second = NewFile::CreateBeside(At("list"), problem, error);
    ASSERT_NE(first, nullptr) << error;
    ASSERT_NE(second, nullptr) << error;
    EXPECT_EQ(problem, FileProblem::None);
    EXPECT_NE(first->Path(), second->Path());
    EXPECT_EQ(first->Path().rfind(At("list.tmp-"), 0), 0u) << first->Path();
    EXPECT_EQ(Read(At("list")), "old");

    first->Stream() << "new";
    ASSERT_TRUE(first->MoveOver(At("list"))) << first->Error();
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
    FileProblem problem = FileProblem::Other;
    std::string error;
    auto file = NewFile::Create(At("target.tmp"), problem, error);
    ASSERT_NE(file, nullptr) << error;
    // Told of a small file, it buffers little: what is written past that goes out in pieces.
    ASSERT_TRUE(file->Reserve(100));
    file->Stream().write(bytes.data(), 3000);
    file->Stream().write(bytes.data() + 3000, 5000);
    file->Stream().seekp(8000);
    file->Stream().write(bytes.data() + 8000, 2000);
    ASSERT_TRUE(file->Flush());
    ASSERT_TRUE(file->SetLastWriteTime(1500000000));
    ASSERT_TRUE(file->Close()) << file->Error();
    EXPECT_EQ(Read(At("target.tmp")), bytes);
    file->Stream() << "more";
    EXPECT_FALSE(file->Stream().good()) << "a write after Close was taken";
    ASSERT_TRUE(file->MoveOver(At("target"), MoveSync::Later)) << file->Error();
    SyncMovesInFolder(folder_);
    file.reset();
    EXPECT_EQ(Read(At("target")), bytes);
    EXPECT_EQ(LastWriteTime(At("target")), 1500000000);

    auto abandoned = NewFile::Create(At("other.tmp"), problem, error);
    ASSERT_NE(abandoned, nullptr) << error;
    abandoned->Stream() << "never moved";
    ASSERT_TRUE(abandoned->Close());
    abandoned.reset();
    EXPECT_EQ(Names(), std::vector<std::string>{"target"});
}

TEST_F(AtomicWrite, FilesForcedTogetherMoveWithTheirBytesAndOneThatCannotBeForcedFailsAlone) {
    std::vector<std::unique_ptr<NewFile>> files;
    for (int i = 0; i < 4; ++i) {
        const std::string target = At("t" + std::to_string(i));
        std::ofstream(target, std::ios::binary) << "old";
        FileProblem problem = FileProblem::Other;
        std::string error;
        files.push_back(NewFile::CreateBeside(target, problem, error));
        ASSERT_NE(files.back(), nullptr) << error;
        files.back()->Stream() << "new " << i;
        ASSERT_TRUE(files.back()->Flush());
        ASSERT_TRUE(files.back()->SetLastWriteTime(1500000000 + i));
        ASSERT_TRUE(files.back()->Close(CloseSync::Together)) << files.back()->Error();
    }
    fs::remove(files[1]->Path());  // gone before its flush: it alone cannot be forced
    NewFile::ForceTogether({files[0].get(), files[1].get(), files[2].get()});
    EXPECT_NE(files[1]->Problem(), FileProblem::None);
    EXPECT_FALSE(files[1]->MoveOver(At("t1")));
    // files[3] was left out of the batch: its move forces it on its own first.
    for (const int i : {0, 2, 3}) {
        ASSERT_EQ(files[i]->Problem(), FileProblem::None) << files[i]->Error();
        ASSERT_TRUE(files[i]->MoveOver(At("t" + std::to_string(i)))) << files[i]->Error();
        EXPECT_EQ(Read(At("t" + std::to_string(i))), "new " + std::to_string(i));
        EXPECT_EQ(LastWriteTime(At("t" + std::to_string(i))), 1500000000 + i);
    }
    EXPECT_EQ(Read(At("t1")), "old");
    files.clear();
    EXPECT_EQ(Names(), (std::vector<std::string>{"t0", "t1", "t2", "t3"}));
}

TEST_F(AtomicWrite, AMissingFolderIsReportedByName) {
    FileProblem problem = FileProblem::None;
    std::string error;
    EXPECT_EQ(NewFile::CreateBeside(At("missing/list"), problem, error), nullptr);
    EXPECT_EQ(problem, FileProblem::Other);
    EXPECT_NE(error.find("missing/list"), std::string::npos) << error;
}

TEST_F(AtomicWrite, ReplacingKeepsTheModeAndLeavesNothingBehind) {
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(At("profiles.xml"), "<a/>", &error)) << error;
    ::chmod(At("profiles.xml").c_str(), 0640);
    ASSERT_TRUE(ReplaceFileAtomically(At("profiles.xml"), "<b/>", &error)) << error;
    EXPECT_EQ(Read(At("profiles.xml")), "<b/>");
    struct stat info {};
    ASSERT_EQ(::stat(At("profiles.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    fs::create_directory(At("folder.xml"));
    EXPECT_FALSE(ReplaceFileAtomically(At("folder.xml"), "<c/>", &error));
    EXPECT_NE(error.find("folder.xml"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(At("folder.xml")));
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder.xml", "profiles.xml"}));
}

}  // namespace
}  // namespace veldmoor
