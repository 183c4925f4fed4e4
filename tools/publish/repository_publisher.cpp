#include "tools/publish/repository_publisher.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "sync/file_list.h"
#include "system/file_time.h"
#include "system/folder_lock.h"
#include "tools/publish/atomic_output.h"
#include "tools/publish/chunk_index_writer.h"
#include "tools/publish/name_rules.h"

namespace veldmoor {
namespace {

namespace fs = std::filesystem;

struct SourceFile {
    std::string repoPath;
    std::string sourcePath;
    std::uint64_t size = 0;
    std::int64_t time = 0;
};

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += "\n  " + line;
    }
    return text;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool SameContent(const std::string& a, const std::string& b) {
    std::ifstream left(fs::path(a), std::ios::binary);
    std::ifstream right(fs::path(b), std::ios::binary);
    if (!left || !right) {
        return false;
    }
    std::vector<char> x(1 << 16);
    std::vector<char> y(1 << 16);
    while (true) {
        left.read(x.data(), static_cast<std::streamsize>(x.size()));
        right.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (left.gcount() != right.gcount() ||
            !std::equal(x.begin(), x.begin() + left.gcount(), y.begin())) {
            return false;
        }
        if (left.gcount() == 0) {
            return !left.bad() && !right.bad();
        }
    }
}

// Every regular file below the source folder, skipping the repository folder when it lies
// inside. Names and times that the repository cannot carry are collected, not thrown one by one,
// so the maintainer sees every problem at once.
std::vector<SourceFile> CollectSources(const fs::path& source, const fs::path& repo) {
    std::vector<SourceFile> files;
    std::vector<std::string> refused;
    std::error_code error;
    const fs::path repoCanonical = fs::weakly_canonical(repo, error);
    fs::recursive_directory_iterator it(source, fs::directory_options::none, error);
    if (error) {
        throw std::runtime_error("cannot read the source folder '" + source.string() +
                                 "': " + error.message());
    }
    for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
        if (error) {
            throw std::runtime_error("cannot read below '" + source.string() +
                                     "': " + error.message());
        }
        const fs::path& path = it->path();
        if (it->is_directory(error)) {
            if (fs::weakly_canonical(path, error) == repoCanonical) {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (!it->is_regular_file(error)) {
            continue;  // sockets, devices, dangling links
        }
        const std::string repoPath = fs::relative(path, source, error).generic_string();
        SourceFile file{repoPath, path.string(), it->file_size(error),
                        LastWriteTime(path.string())};
        if (auto why = WhyPathIsRefused(repoPath)) {
            refused.push_back("'" + repoPath + "': " + *why);
            continue;
        }
        if (auto why = WhyTimeIsRefused(file.time)) {
            refused.push_back("'" + repoPath + "': " + *why + " (touch it to give it a new time)");
            continue;
        }
        if (file.size > kMaxPublishedFileSize) {
            refused.push_back("'" + repoPath + "': it is 4 GiB or larger; sizes are 32-bit");
            continue;
        }
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.repoPath < b.repoPath; });
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const auto& f : files) {
        paths.push_back(f.repoPath);
    }
    for (auto& problem : CollidingPaths(paths)) {
        refused.push_back(std::move(problem));
    }
    if (!refused.empty()) {
        throw PublishRefused(std::move(refused));
    }
    return files;
}

void RemoveEmptyFolders(const fs::path& folder, const fs::path& stop) {
    std::error_code error;
    for (fs::path current = folder; current != stop && current.has_relative_path();
         current = current.parent_path()) {
        if (!fs::is_empty(current, error) || error || !fs::remove(current, error)) {
            return;
        }
    }
}

// Removes the copy and index of a file that left the source.
void RemoveCopy(const fs::path& transfer, const std::string& repoPath) {
    std::error_code error;
    const fs::path copy = transfer / fs::path(repoPath);
    fs::remove(copy, error);
    fs::remove(fs::path(copy.string() + ".chunks"), error);
    RemoveEmptyFolders(copy.parent_path(), transfer);
}

// True when a file at `a` and one at `b` cannot both exist: one path is a folder of the other.
bool OneHoldsTheOther(const std::string& a, const std::string& b) {
    const auto holds = [](const std::string& folder, const std::string& path) {
        return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
               path[folder.size()] == '/';
    };
    return holds(a, b) || holds(b, a);
}

// Copies of files gone from the source whose names a new file needs as a folder, or whose
// folder a new file needs as its name: they go before the new copies are written.
void RemoveCopiesInTheWay(const fs::path& transfer, const std::vector<SourceFile>& files,
                          const std::map<std::string, std::int64_t>& listed) {
    std::set<std::string> current;
    for (const auto& file : files) {
        current.insert(file.repoPath);
    }
    for (const auto& [path, time] : listed) {
        if (current.count(path) != 0 || WhyPathIsRefused(path)) {
            continue;
        }
        // The paths that hold `path` or lie in it sort right after its first folder's name.
        const std::string top = path.substr(0, path.find('/'));
        for (auto it = current.lower_bound(top); it != current.end() && it->starts_with(top);
             ++it) {
            if (OneHoldsTheOther(path, *it)) {
                RemoveCopy(transfer, path);
                break;
            }
        }
    }
}

}  // namespace

PublishRefused::PublishRefused(std::vector<std::string> reasonList)
    : std::runtime_error("these files cannot be published:" + JoinLines(reasonList) +
                         "\nRename or remove them and publish again; nothing was changed."),
      reasons(std::move(reasonList)) {}

std::vector<ListedFile> ReadFileList(const std::string& fileListPath) {
    return ParseListedFiles(ReadAll(fs::path(fileListPath)));
}

std::vector<ListedFile> ParseListedFiles(std::string_view text) {
    std::vector<ListedFile> files;
    for (const FileListEntryText& entry : findFileListEntries(text)) {
        try {
            files.push_back({std::string(entry.path), std::stoll(std::string(entry.time))});
        } catch (const std::out_of_range&) {
            // A time no client can read: treat the entry as new, so it is published afresh.
        }
    }
    return files;
}

std::string FormatFileList(const std::vector<ListedFile>& files) {
    std::string text = "[\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        text +=
            "{ path: \"" + files[i].path + "\", time: \"" + std::to_string(files[i].time) + "\" }";
        text += (i + 1 < files.size()) ? ",\n" : "\n";
    }
    text += "]\n";
    return text;
}

PublishSummary PublishRepository(const PublishOptions& options) {
    const fs::path source = fs::path(options.sourceDir);
    const fs::path repo = fs::path(options.repoDir);
    std::error_code error;
    if (!fs::is_directory(source, error)) {
        throw std::runtime_error("the source folder '" + options.sourceDir +
                                 "' does not exist or is not a folder");
    }
    if (fs::exists(repo, error) && fs::equivalent(source, repo, error)) {
        throw std::runtime_error("the repository folder must differ from the source folder");
    }
    const std::vector<SourceFile> files = CollectSources(source, repo);

    const fs::path transfer = repo / "transfer";
    fs::create_directories(transfer, error);
    if (error) {
        throw std::runtime_error("cannot create '" + transfer.string() + "': " + error.message());
    }
    // A second publish into the same repository would interleave its copies, indexes and file
    // list with this one's; it is turned away until this one is done.
    FolderLock::Outcome outcome = FolderLock::Outcome::Failed;
    std::string lockError;
    const auto lock = FolderLock::TryLock(repo.string(), outcome, lockError);
    if (outcome == FolderLock::Outcome::HeldElsewhere) {
        throw std::runtime_error("another publish is running on '" + repo.string() +
                                 "'; wait until it has finished and try again");
    }
    if (lock == nullptr) {
        throw std::runtime_error("cannot lock '" + repo.string() + "': " + lockError);
    }
    const fs::path fileListPath = repo / "filelist.php";
    const std::int64_t listWriteTime = LastWriteTime(fileListPath.string());
    std::map<std::string, std::int64_t> listed;
    for (const auto& entry : ReadFileList(fileListPath.string())) {
        listed[entry.path] = entry.time;
    }

    RemoveCopiesInTheWay(transfer, files, listed);

    PublishSummary summary;
    summary.files = files.size();
    std::vector<ListedFile> newList;
    newList.reserve(files.size());
    std::size_t index = 0;
    for (const auto& file : files) {
        const fs::path copy = transfer / fs::path(file.repoPath);
        const std::string copyPath = copy.string();
        const std::string indexPath = copyPath + ".chunks";
        const std::uint32_t blockSize = options.forcedBlockSize.value_or(BlockSizeFor(file.size));
        const auto old = listed.find(file.repoPath);
        const bool wasListed = old != listed.end();
        const std::int64_t copySize = fs::is_regular_file(copy, error)
                                          ? static_cast<std::int64_t>(fs::file_size(copy, error))
                                          : -1;
        bool unchanged = false;
        if (wasListed && copySize == static_cast<std::int64_t>(file.size) &&
            fs::is_regular_file(fs::path(indexPath), error)) {
            // Quick check first (same size and time), then the bytes themselves. A time not
            // older than the previous list is no proof: the file may have changed again within
            // the second the list was written in.
            const bool quick = file.time == old->second && file.time < listWriteTime;
            unchanged = quick || SameContent(file.sourcePath, copyPath);
        }
        PublishAction action = PublishAction::Unchanged;
        std::int64_t time = file.time;
        if (unchanged) {
            time = old->second;
            const std::uint32_t expectedFirst =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSize, file.size));
            if (file.size > 0 && IndexBlockSize(indexPath) != expectedFirst) {
                WriteIndex(copyPath, indexPath, blockSize);
                action = PublishAction::Reindexed;
                ++summary.reindexed;
            } else {
                ++summary.unchanged;
            }
        } else {
            if (wasListed && time == old->second) {
                // The launcher sees a change only through a new time.
                const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
                time = std::max<std::int64_t>(old->second + 1, now);
            }
            fs::create_directories(copy.parent_path(), error);
            if (error) {
                throw std::runtime_error("cannot create '" + copy.parent_path().string() +
                                         "': " + error.message());
            }
            const IndexedCopy written =
                WriteCopyAndIndex(file.sourcePath, copyPath, indexPath, blockSize);
            summary.bytesIndexed += written.size;
            action = wasListed ? PublishAction::Changed : PublishAction::Added;
            ++(wasListed ? summary.changed : summary.added);
        }
        // The copy carries the listed time, so the quick check above holds next time and a
        // web server's Last-Modified agrees with the list.
        SetLastWriteTime(copyPath, time);
        newList.push_back({file.repoPath, time});
        if (wasListed) {
            listed.erase(old);
        }
        if (options.progress) {
            options.progress(++index, files.size(), file.repoPath, action);
        }
    }

    // The list goes last: a client reading it finds every copy and index it names.
    const std::string text = FormatFileList(newList);
    if (!fs::exists(fileListPath, error) || ReadAll(fileListPath) != text) {
        // A list that cannot be completed or moved is not left behind for the server to hand out.
        AtomicOutput list(fileListPath.string());
        list.write(text.data(), text.size());
        list.commit();
        summary.fileListWritten = true;
    }

    // Files no longer in the source leave the repository after the list stopped naming them.
    for (const auto& [path, time] : listed) {
        if (WhyPathIsRefused(path)) {
            continue;  // never delete by a name that could point outside the repository
        }
        RemoveCopy(transfer, path);
        ++summary.removed;
        if (options.progress) {
            options.progress(summary.removed, listed.size(), path, PublishAction::Removed);
        }
    }
    return summary;
}

}  // namespace veldmoor
