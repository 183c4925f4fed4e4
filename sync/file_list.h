// The repository's file list: the document at the repository address + "/filelist.php",
// holding one entry per file in the form
//   { path: "data/map0.mul", time: "1500000000" }
// Anything between entries is ignored.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sync/remote_file.h"

namespace veldmoor {

// Local path of a repository path inside `installFolder`: the folder, one separator and the
// repository path with every '/' and '\' turned into the local separator. The folder is taken
// as it is (a trailing separator yields a doubled one).
std::string localPathOf(const std::string& installFolder, std::string_view repoPath);

// True when a repository path stays inside the installation folder wherever it is joined:
// not empty, not rooted ("/x", "\\x", "C:x"), no NUL byte, and no segment is ".." ('/' and
// '\' both separate segments, as on Windows).
bool isSafeRepoPath(std::string_view repoPath);

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
