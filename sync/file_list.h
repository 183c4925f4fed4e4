// The repository's file list: the document at the repository address + "/filelist.php",
// holding one entry per file in the form
//   { path: "data/map0.mul", time: "1500000000" }
// Anything between entries is ignored.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sync/patch_exception.h"
#include "sync/remote_file.h"

namespace veldmoor {

// Local path of a repository path inside `installFolder`: the folder, one separator and the
// repository path with every '/' and '\' turned into the local separator. The folder is taken
// as it is (a trailing separator yields a doubled one).
std::string localPathOf(const std::string& installFolder, std::string_view repoPath);

// Most bytes the file list may take, as it travels (compressed or not) and once inflated: room
// for about 50000 files of ordinary names, and small enough that the list and its parsed
// entries (some 200 bytes each) stay below the run's memory budget of 64 MiB even when the
// list is nothing but the shortest entries.
inline constexpr std::size_t kMaxFileListBytes = 4 * 1024 * 1024;

// Most folder levels made for one file, counted from the root of the drive when the file's
// folder does not exist yet (the installation folder's own levels included).
inline constexpr std::size_t kMaxFolderSteps = 32;

// Why a repository path cannot be used; PathRefusal::None when it can. A usable path stays inside
// the installation folder wherever it is joined: not empty, not rooted
// ("/x", "\\x", "C:x"), no NUL byte, no component is ".." ('/' and '\' both separate
// components, as on Windows), and the last component is not empty ("dir/" names a folder).
// "a..b" and "..." are ordinary names.
PathRefusal repoPathRefusal(std::string_view repoPath);
// The refusal in a few English words, for diagnostics.
std::string describePathRefusal(PathRefusal refusal);
// `repoPath` as diagnostics show it: a control byte (a NUL among them) becomes "\xNN", so the
// text is neither cut at a NUL nor garbled.
std::string printablePath(std::string_view repoPath);
// True when repoPathRefusal finds nothing.
bool isSafeRepoPath(std::string_view repoPath);

// The name of the file in which the rebuild of the file at `localPath` is laid out.
std::string temporaryPathOf(const std::string& localPath);

// Why the list cannot be used as a whole, naming the entry; empty when it can: one listed
// path is the temporary file or the resume data of another (ASCII case ignored, as Windows
// compares names), so the rebuild of the one would consume the other.
std::string fileListProblem(const std::vector<RemoteFile>& files);
// The clashes among `repoPaths` of the kind fileListProblem finds, each explained, up to `most`.
std::vector<std::string> listedNameClashes(const std::vector<std::string_view>& repoPaths,
                                           std::size_t most = SIZE_MAX);

// One entry as the list body writes it, pointing into the body.
struct FileListEntryText {
    std::string_view path;
    std::string_view time;  // one or more decimal digits
};

// Every `{ path: "...", time: "..." }` entry of a list body, in document order, found in time
// linear in the body however it is damaged.
std::vector<FileListEntryText> findFileListEntries(std::string_view body);

// Every entry of the list body, in document order. Throws PatchException (category 2) naming the
// entry when its time does not fit a signed 32-bit number.
std::vector<RemoteFile> parseFileList(std::string_view body, const std::string& installFolder);

}  // namespace veldmoor
