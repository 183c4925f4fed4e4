// Builds or updates a repository folder from a source folder, so that any static web server
// can serve it to the launcher:
//   REPO_DIR/filelist.php            one { path: "...", time: "..." } entry per file
//   REPO_DIR/filelist.sums           each listed file's time, size and CRC-32
//   REPO_DIR/transfer/<path>         a copy of the file, fetched by byte ranges
//   REPO_DIR/transfer/<path>.chunks  its chunk index
// A file whose content is unchanged keeps its listed time and is not rewritten; only changed
// files are copied and indexed again; files gone from the source leave the repository. A
// changed file always gets a listed time different from its previous one, since the launcher
// notices changes by the time alone.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/file_list.h"
#include "sync/signed_metadata.h"
#include "system/result.h"
#include "tools/publish/publish_stop.h"

namespace veldmoor {

enum class PublishAction { Unchanged, Added, Changed, Reindexed, Removed };

// One file of the list just written, for the signed manifest.
struct PublishedFile {
    std::string path;  // as listed
    std::uint64_t size = 0;
    std::int64_t time = 0;               // as listed
    std::optional<Sha256Digest> sha256;  // when this run read the file anyway
    std::string sourcePath;              // where to read it otherwise
};

struct PublishOptions {
    std::string sourceDir;
    std::string repoDir;
    std::optional<std::uint32_t> forcedBlockSize;  // otherwise BlockSizeFor(size)
    // Called once per file after it was handled: index (1-based), count, path, action.
    std::function<void(std::size_t, std::size_t, const std::string&, PublishAction)> progress;
    // Called with the repository still locked, once the file list is in place, with every
    // listed file in list order; the signed files are written from here. Its failure is the
    // run's.
    std::function<Status(const std::vector<PublishedFile>&)> listed;
    // Polled between blocks and files; once it holds, the run removes what it had half written
    // and fails with Fault::Stopped.
    PublishStopCheck stopRequested;
    // The most bytes the launcher reads of a file list; tests lower it.
    std::size_t maxFileListBytes = kMaxFileListBytes;
};

struct PublishSummary {
    std::size_t files = 0;
    std::size_t added = 0;
    std::size_t changed = 0;
    std::size_t reindexed = 0;
    std::size_t removed = 0;
    std::size_t unchanged = 0;
    std::uint64_t bytesIndexed = 0;
    bool fileListWritten = false;
    // Temporary files an interrupted publish had left, now removed (relative to the repository).
    std::vector<std::string> leftoversRemoved;
};

// Fails before anything is written when source files cannot be published, listing them all;
// with Fault::Stopped when stopped, saying what stayed; otherwise for folders and I/O failures,
// naming the file.
Result<PublishSummary> PublishRepository(const PublishOptions& options);

// Entries of an existing file list, path and time, in document order.
struct ListedFile {
    std::string path;
    std::int64_t time = 0;
};
std::vector<ListedFile> ReadFileList(const std::string& fileListPath);
// The same from the list's text in memory; any text is read without failing.
std::vector<ListedFile> ParseFileList(std::string_view text);
std::string FormatFileList(const std::vector<ListedFile>& files);

}  // namespace veldmoor
