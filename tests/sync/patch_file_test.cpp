#include "sync/patch_file.h"

#include <gtest/gtest.h>

#include "sync/file_list.h"
#include "sync/patch_exception.h"
#include "sync_fixture.h"
#include "system/file_ops.h"

namespace veldmoor {
namespace {

using test::readFile;
using test::TempFolder;
using test::writeFile;

std::string nestedPath(const std::string& root, int levels) {
    std::string path = root;
    for (int i = 0; i < levels; ++i) {
        path += "/d" + std::to_string(i);
    }
    return path;
}

// Components of the root folder itself count towards the 32 steps.
int componentsOf(const std::string& path) {
    return static_cast<int>(std::count(path.begin(), path.end(), '/'));
}

TEST(EnsureParentFolder, CreatesUpToThirtyTwoLevelsOneAtATime) {
    const TempFolder root;
    const int own = componentsOf(root.path());
    const std::string folder = nestedPath(root.path(), 32 - own);
    EXPECT_TRUE(ensureParentFolder(folder + "/file.tmp"));
    EXPECT_TRUE(IsDirectory(folder));
    // Existing folders pass at once, however deep.
    EXPECT_TRUE(ensureParentFolder(folder + "/file.tmp"));
}

TEST(EnsureParentFolder, FailsBeyondThirtyTwoLevels) {
    const TempFolder root;
    const std::string folder = nestedPath(root.path(), 33 - componentsOf(root.path()));
    EXPECT_FALSE(ensureParentFolder(folder + "/file.tmp"));
    EXPECT_FALSE(IsDirectory(folder));
}

TEST(EnsureParentFolder, RefusesClimbingAndFailsWhereAFileIsInTheWay) {
    const TempFolder root;
    EXPECT_FALSE(ensureParentFolder(""));
    EXPECT_FALSE(ensureParentFolder(root / "a/../b/file"));
    EXPECT_FALSE(IsDirectory(root / "a"));
    writeFile(root / "plain", "x");
    EXPECT_FALSE(ensureParentFolder(root / "plain/sub/file"));
    EXPECT_TRUE(ensureParentFolder("file-without-folder"));
    // The refusal comes with the system's words only where the system refused.
    const ParentFolders blocked = makeParentFolders(root / "plain/sub/file");
    EXPECT_EQ(blocked.refusal, PathRefusal::FileInTheWay);
    EXPECT_EQ(blocked.systemError, "cannot create '" + root / "plain" + "'");
    const ParentFolders climbing = makeParentFolders(root / "a/../b/file");
    EXPECT_EQ(climbing.refusal, PathRefusal::ParentComponent);
    EXPECT_EQ(climbing.systemError, "");
}

TEST(FileCrc32, ChecksTheWholeFile) {
    const TempFolder root;
    writeFile(root / "empty", "");
    writeFile(root / "digits", "123456789");
    const std::string big = test::randomBytes(300000, 11);
    writeFile(root / "big", big);
    EXPECT_EQ(fileCrc32(root / "empty"), 0u);
    EXPECT_EQ(fileCrc32(root / "digits"), 0xCBF43926u);
    EXPECT_EQ(fileCrc32(root / "big"), test::crcOf(big));
    EXPECT_EQ(fileCrc32(root / "missing"), 0u);
}

Piece localPiece(std::uint32_t target, std::uint32_t length, std::uint32_t source) {
    Piece piece;
    piece.targetOffset = target;
    piece.length = length;
    piece.sourceOffset = source;
    piece.kind = kPieceLocal;
    return piece;
}

PreparedFile preparedFile(const TempFolder& root, const std::string& repoPath,
                          std::vector<Piece> pieces, std::uint32_t expectedCrc) {
    PreparedFile file;
    file.file.repoPath = repoPath;
    file.file.localPath = localPathOf(root.path(), repoPath);
    file.plan.pieces = std::move(pieces);
    file.plan.expectedCrc = expectedCrc;
    file.sizeDiffers = true;
    file.hasLocalCopy = KindOf(file.file.localPath) == PathKind::File;
    return file;
}

// Rebuilds a file whose pieces are all local, as the engine does once its downloads have come.
void rebuildLocally(const PreparedFile& file, const ProgressCallback& progress = nullptr) {
    FileRebuild rebuild(file, progress);
    ASSERT_EQ(rebuild.receiver(), nullptr);
    rebuild.layOut(nullptr);
    rebuild.finish();
}

TEST(PatchFile, RebuildsFromLocalPiecesAloneAndReportsNothingToDownload) {
    const TempFolder root;
    const std::string old = test::randomBytes(400000, 12);
    writeFile(root / "f.bin", old);
    // The target: the old file's second half, then its first 1000 bytes.
    const std::string target = old.substr(200000) + old.substr(0, 1000);
    const PreparedFile file =
        preparedFile(root, "f.bin", {localPiece(0, 200000, 200000), localPiece(200000, 1000, 0)},
                     test::crcOf(target));
    std::vector<std::pair<unsigned, unsigned>> calls;
    rebuildLocally(file, [&](const std::string&, unsigned written, unsigned total) {
        calls.emplace_back(written, total);
    });
    EXPECT_EQ(readFile(root / "f.bin"), target);
    EXPECT_FALSE(PathExists(root / "f.bin.tmp"));
    EXPECT_EQ(calls, (std::vector<std::pair<unsigned, unsigned>>{{0, 0}}));
}

// The check covers the file as it lies on the drive: the bytes the shrunken copy could not
// give are the zeros of the file's reserved length, and the checksum says so.
TEST(PatchFile, ALocalCopyThatShrankSincePlanningFailsTheChecksum) {
    const TempFolder root;
    const std::string planned = test::randomBytes(5000, 13);
    writeFile(root / "f.bin", planned.substr(0, 3000));
    try {
        rebuildLocally(preparedFile(root, "f.bin", {localPiece(0, 5000, 0)}, test::crcOf(planned)));
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 3);
        EXPECT_EQ(e.params.at("FileChecksum"),
                  test::crcOf(planned.substr(0, 3000) + std::string(2000, '\0')));
    }
    EXPECT_EQ(readFile(root / "f.bin"), planned.substr(0, 3000));
}

TEST(PatchFile, EmptyTargetGivesAnEmptyFile) {
    const TempFolder root;
    writeFile(root / "f.bin", "old");
    rebuildLocally(preparedFile(root, "sub/dir/f.bin", {}, 0));
    EXPECT_TRUE(PathExists(root / "sub/dir/f.bin"));
    EXPECT_EQ(readFile(root / "sub/dir/f.bin"), "");
}

TEST(PatchFile, ChecksumMismatchKeepsTheOldFileAndRemovesTheTemporaryOne) {
    const TempFolder root;
    writeFile(root / "f.bin", "old content");
    try {
        rebuildLocally(preparedFile(root, "f.bin", {localPiece(0, 3, 0)}, 0xFFFFFFFFu));
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 3);
        EXPECT_EQ(e.code, 8);
        EXPECT_EQ(e.detail, "f.bin");
        EXPECT_EQ(e.params.at("FileChecksum"), test::crcOf("old"));
        EXPECT_EQ(e.params.at("ExpectedChecksum"), 0xFFFFFFFFu);
    }
    EXPECT_EQ(readFile(root / "f.bin"), "old content");
    EXPECT_FALSE(PathExists(root / "f.bin.tmp"));
}

TEST(PatchFile, RefusesPathsLeavingTheInstallationBeforeWritingAnything) {
    const TempFolder outer;
    const std::string install = outer / "install";
    ASSERT_TRUE(MakeDirectory(install));
    for (const char* repoPath : {"a/../../escaped", "..\\escaped", "/escaped", "C:escaped"}) {
        PreparedFile file;
        file.file.repoPath = repoPath;
        file.file.localPath = localPathOf(install, repoPath);
        try {
            rebuildLocally(file);
            FAIL() << repoPath;
        } catch (const PatchException& e) {
            EXPECT_EQ(e.category, 0);
            EXPECT_EQ(e.code, 2);
            EXPECT_EQ(e.detail, repoPath);
        }
    }
    EXPECT_FALSE(PathExists(outer / "escaped"));
    EXPECT_FALSE(PathExists(outer / "escaped.tmp"));
}

TEST(PatchFile, ReportsATemporaryFileThatCannotBeOpened) {
    const TempFolder root;
    ASSERT_TRUE(MakeDirectory(root / "f.bin.tmp"));
    try {
        rebuildLocally(preparedFile(root, "f.bin", {}, 0));
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 0);
        EXPECT_EQ(e.code, 3);
        EXPECT_EQ(e.detail, "f.bin.tmp");
    }
}

TEST(PatchFile, NamesAFolderWhereTheFileBelongsAndKeepsIt) {
    const TempFolder root;
    writeFile(root / "f.bin/inside", "a folder stands where the file belongs");
    try {
        rebuildLocally(preparedFile(root, "f.bin", {}, 0));
        FAIL();
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 0);
        EXPECT_EQ(e.code, 11);
        EXPECT_EQ(e.detail, "f.bin");
    }
    EXPECT_EQ(readFile(root / "f.bin/inside"), "a folder stands where the file belongs");
    EXPECT_FALSE(PathExists(root / "f.bin.tmp"));
}

TEST(PatchFile, ReplacesTheOldFileInOneStep) {
    const TempFolder root;
    writeFile(root / "f.bin", "old!");
    // A reader that opened the old file keeps reading it: the new file is a new inode put in
    // its place by rename, not the old file truncated or deleted first.
    std::ifstream reader(root / "f.bin", std::ios::binary);
    rebuildLocally(preparedFile(root, "f.bin", {localPiece(0, 3, 0)}, test::crcOf("old")));
    std::string seen(4, '\0');
    reader.read(seen.data(), 4);
    EXPECT_EQ(seen, "old!");
    EXPECT_EQ(readFile(root / "f.bin"), "old");
}

}  // namespace
}  // namespace veldmoor
