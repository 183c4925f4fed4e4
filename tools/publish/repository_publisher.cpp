#include "tools/publish/repository_publisher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "sync/file_list.h"
#include "sync/file_sums.h"
#include "sync/repository_layout.h"
#include "system/file_time.h"
#include "system/folder_lock.h"
#include "system/text_encoding.h"
#include "tools/publish/atomic_output.h"
#include "tools/publish/chunk_index_writer.h"
#include "tools/publish/compressed_index.h"
#include "tools/publish/leftovers.h"
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

// False also when either file cannot be read: the copy is then written afresh.
Result<bool> SameContent(const std::string& a, const std::string& b, const PublishStopCheck& stop) {
    std::ifstream left(PathFromUtf8(a), std::ios::binary);
    std::ifstream right(PathFromUtf8(b), std::ios::binary);
    if (!left || !right) {
        return false;
    }
    std::vector<char> x(1 << 16);
    std::vector<char> y(1 << 16);
    while (true) {
        if (StopAsked(stop)) {
            return Stopped();
        }
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

// Where each file below the source folder is read from, and what keeps others from being
// published. Every problem is collected, not reported one by one, so the maintainer sees them
// all at once; any problem stops the run before the repository changes, since a file that is
// skipped would be taken as deleted and leave the repository.
class SourceWalk {
public:
    SourceWalk(const fs::path& source, const fs::path& repo, const PublishStopCheck& stop)
        : source_(source), stop_(stop) {
        std::error_code error;
        realSource_ = fs::canonical(source, error);
        realRepo_ = fs::weakly_canonical(repo, error);
    }

    // Fails only when the source folder itself cannot be read, or with Fault::Stopped; what
    // keeps a file below it from being published is collected in `refused`.
    Status walk(const fs::path& folder, const std::string& prefix) {
        std::error_code error;
        fs::directory_iterator it(folder, error);
        if (error) {
            if (prefix.empty()) {
                return Status::Failed("cannot read the source folder '" + Utf8FromPath(source_) +
                                      "': " + error.message());
            }
            unreadable(prefix, "folder", error);
            return {};
        }
        for (const fs::directory_iterator end; it != end;) {
            if (StopAsked(stop_)) {
                return Stopped();
            }
            if (Status visited =
                    visit(*it, prefix.empty() ? Utf8FromPath(it->path().filename())
                                              : prefix + "/" + Utf8FromPath(it->path().filename()));
                !visited) {
                return visited;
            }
            it.increment(error);
            if (error) {
                unreadable(prefix.empty() ? "." : prefix, "folder", error);
                return {};
            }
        }
        return {};
    }

    std::vector<SourceFile> files;
    std::vector<std::string> refused;

private:
    static bool Inside(const fs::path& real, const fs::path& folder) {
        const fs::path relative = real.lexically_relative(folder);
        return !relative.empty() && *relative.begin() != "..";
    }

    void unreadable(const std::string& repoPath, const char* what, const std::error_code& error) {
        refused.push_back("'" + repoPath + "': the " + what + " cannot be read (" +
                          error.message() +
                          "); give the publishing user read rights to it, or move it out of "
                          "the source folder");
    }

    Status visit(const fs::directory_entry& entry, const std::string& repoPath) {
        std::error_code error;
        const fs::file_status status = entry.symlink_status(error);
        if (!fs::is_directory(status)) {
            take(entry, status, repoPath);
            return {};
        }
        if (fs::weakly_canonical(entry.path(), error) != realRepo_) {
            return walk(entry.path(), repoPath);
        }
        return {};
    }

    // Adds the file (or link) at `entry` to `files`, or why it is refused to `refused`.
    void take(const fs::directory_entry& entry, const fs::file_status& status,
              const std::string& repoPath) {
        std::error_code error;
        fs::path readFrom = entry.path();
        if (fs::is_symlink(status)) {
            // A link to a file of the source publishes a copy of that file: the installation
            // holds plain files anyway. A link elsewhere would publish whatever it points to,
            // private files included, without the maintainer seeing it in the folder; a link to
            // a folder could repeat the source inside itself.
            const fs::path target = fs::canonical(entry.path(), error);
            if (error) {
                refused.push_back("'" + repoPath +
                                  "': it is a symbolic link whose target does not exist");
                return;
            }
            if (!Inside(target, realSource_) || target == realRepo_ || Inside(target, realRepo_)) {
                refused.push_back("'" + repoPath + "': it is a symbolic link to '" +
                                  Utf8FromPath(target) +
                                  "', outside the source folder; put a copy of it there instead");
                return;
            }
            if (fs::is_directory(target, error)) {
                refused.push_back("'" + repoPath +
                                  "': it is a symbolic link to a folder, which is not followed; "
                                  "put the folder itself there instead");
                return;
            }
            readFrom = target;
        }
        if (!fs::is_regular_file(readFrom, error)) {
            refused.push_back("'" + repoPath +
                              "': it is not a regular file (a device, pipe or socket)");
            return;
        }
        if (auto why = WhyPathIsRefused(repoPath)) {
            refused.push_back("'" + repoPath + "': " + *why);
            return;
        }
        if (!std::ifstream(readFrom, std::ios::binary)) {
            unreadable(repoPath, "file", std::error_code(errno, std::generic_category()));
            return;
        }
        SourceFile file{repoPath, Utf8FromPath(readFrom), fs::file_size(readFrom, error),
                        LastWriteTime(Utf8FromPath(readFrom))};
        if (auto why = WhyTimeIsRefused(file.time)) {
            refused.push_back("'" + repoPath + "': " + *why + " (touch it to give it a new time)");
            return;
        }
        if (file.size > kMaxPublishedFileSize) {
            refused.push_back("'" + repoPath + "': it is 4 GiB or larger; sizes are 32-bit");
            return;
        }
        files.push_back(std::move(file));
    }

    fs::path source_;
    const PublishStopCheck& stop_;
    fs::path realSource_;
    fs::path realRepo_;
};

std::uint32_t BlockSizeOf(const PublishOptions& options, std::uint64_t fileSize) {
    return options.forcedBlockSize.value_or(BlockSizeFor(fileSize));
}

// Every file below the source folder, skipping the repository folder when it lies inside, once
// every name, index and the file list they make are known to be ones the launcher takes.
Result<std::vector<SourceFile>> CollectSources(const fs::path& source, const fs::path& repo,
                                               const PublishOptions& options) {
    SourceWalk walk(source, repo, options.stopRequested);
    if (Status walked = walk.walk(source, ""); !walked) {
        return walked;
    }
    std::vector<SourceFile> files = std::move(walk.files);
    std::vector<std::string> refused = std::move(walk.refused);
    std::sort(files.begin(), files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.repoPath < b.repoPath; });
    std::vector<std::string> paths;
    std::vector<ListedFile> list;
    paths.reserve(files.size());
    list.reserve(files.size());
    for (const auto& f : files) {
        paths.push_back(f.repoPath);
        list.push_back({f.repoPath, f.time});
        if (auto why = WhyIndexIsRefused(f.size, BlockSizeOf(options, f.size))) {
            refused.push_back("'" + f.repoPath + "': " + *why);
        }
    }
    for (auto& problem : CollidingPaths(paths)) {
        refused.push_back(std::move(problem));
    }
    // A changed file may get a new time, of as many digits: the list then keeps its size.
    if (auto why = WhyListIsRefused(FormatFileList(list), paths, options.maxFileListBytes)) {
        refused.push_back(std::move(*why));
    }
    if (!refused.empty()) {
        return Status::Failed("these files cannot be published:" + JoinLines(refused) +
                              "\nMend them as said (rename, remove, give read rights) and "
                              "publish again; nothing was changed.");
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
    const fs::path copy = transfer / PathFromUtf8(repoPath);
    fs::remove(copy, error);
    fs::remove(PathFromUtf8(Utf8FromPath(copy) + kChunkIndexSuffix), error);
    fs::remove(PathFromUtf8(Utf8FromPath(copy) + kCompressedIndexSuffix), error);
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

std::vector<ListedFile> ReadFileList(const std::string& fileListPath) {
    return ParseFileList(ReadAll(PathFromUtf8(fileListPath)));
}

std::vector<ListedFile> ParseFileList(std::string_view text) {
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

namespace {

// A stop that says what the run leaves: the copies it replaced before the list named them, or
// the copies of files gone from the source that it had yet to remove.
Status StoppedIn(const PublishSummary& done, std::size_t toRemove) {
    const std::size_t replaced = done.added + done.changed + done.reindexed;
    if (done.fileListWritten) {
        return Status::Failed(
            "stopped after the file list was written; " + std::to_string(toRemove) +
                " copies of files gone from the source are still in the repository (publish "
                "again to remove them)",
            Fault::Stopped);
    }
    if (replaced == 0) {
        return Status::Failed("stopped; the repository is as before", Fault::Stopped);
    }
    return Status::Failed(
        "stopped; new copies and indexes of " + std::to_string(replaced) +
            " files are in place, but the file list is not yet updated for them (publish "
            "again to complete it)",
        Fault::Stopped);
}

// A document that cannot be completed or moved is not left behind for the server to hand out.
Status WriteAtomically(const fs::path& path, const std::string& text) {
    Result<AtomicOutput> out = AtomicOutput::Create(Utf8FromPath(path));
    if (!out) {
        return out.Error();
    }
    out->write(text.data(), text.size());
    return out->commit();
}

// Copies, indexes and lists the files into the locked repository.
// `summary` and `toRemove` (the copies of files gone from the source still to be removed) say
// how far it came when it fails.
Status PublishFiles(const PublishOptions& options, const std::vector<SourceFile>& files,
                    const fs::path& repo, PublishSummary& summary, std::size_t& toRemove) {
    std::error_code error;
    const fs::path transfer = repo / kTransferFolder;
    const fs::path fileListPath = repo / kFileListPath;
    const std::int64_t listWriteTime = LastWriteTime(Utf8FromPath(fileListPath));
    std::map<std::string, std::int64_t> listed;
    for (const auto& entry : ReadFileList(Utf8FromPath(fileListPath))) {
        listed[entry.path] = entry.time;
    }
    // A copy the live list names stays until the new list is in place, even if its name looks
    // like a temporary one; so does a source file's.
    std::set<std::string> published;
    for (const auto& [path, time] : listed) {
        published.insert(path);
    }
    for (const auto& file : files) {
        published.insert(file.repoPath);
    }
    summary.leftoversRemoved = RemoveLeftovers(repo, published);

    RemoveCopiesInTheWay(transfer, files, listed);

    summary.files = files.size();
    std::vector<ListedFile> newList;
    newList.reserve(files.size());
    std::vector<PublishedFile> signedFiles;
    std::string sums = std::string(kFileSumsHeader) + "\n";
    std::size_t index = 0;
    for (const auto& file : files) {
        if (StopAsked(options.stopRequested)) {
            return Stopped();
        }
        const fs::path copy = transfer / PathFromUtf8(file.repoPath);
        const std::string copyPath = Utf8FromPath(copy);
        const std::string indexPath = copyPath + kChunkIndexSuffix;
        const std::uint32_t blockSize = BlockSizeOf(options, file.size);
        const auto old = listed.find(file.repoPath);
        const bool wasListed = old != listed.end();
        const std::int64_t copySize = fs::is_regular_file(copy, error)
                                          ? static_cast<std::int64_t>(fs::file_size(copy, error))
                                          : -1;
        bool unchanged = false;
        if (wasListed && copySize == static_cast<std::int64_t>(file.size) &&
            fs::is_regular_file(PathFromUtf8(indexPath), error)) {
            // Quick check first (same size and time), then the bytes themselves. A time not
            // older than the previous list is no proof: the file may have changed again within
            // the second the list was written in.
            unchanged = file.time == old->second && file.time < listWriteTime;
            if (!unchanged) {
                const Result<bool> same =
                    SameContent(file.sourcePath, copyPath, options.stopRequested);
                if (!same) {
                    return same.Error();
                }
                unchanged = same.Value();
            }
        }
        PublishAction action = PublishAction::Unchanged;
        std::int64_t time = file.time;
        PublishedFile entry{file.repoPath, file.size, 0, std::nullopt, file.sourcePath};
        std::optional<IndexHead> sum;  // the index's size and CRC-32, for the list's sums
        if (unchanged) {
            time = old->second;
            const std::uint32_t expectedFirst =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(blockSize, file.size));
            sum = ReadIndexHead(indexPath);
            if (file.size > 0 && (!sum || sum->blockSize != expectedFirst)) {
                const Result<IndexedCopy> indexed =
                    WriteIndex(copyPath, indexPath, blockSize, options.stopRequested);
                if (!indexed) {
                    return indexed.Error();
                }
                sum =
                    IndexHead{static_cast<std::uint32_t>(indexed->size), indexed->crc32, blockSize};
                entry.sha256 = indexed->sha256;
                action = PublishAction::Reindexed;
                ++summary.reindexed;
            } else {
                if (Status compressed = EnsureCompressedIndex(indexPath); !compressed) {
                    return compressed;
                }
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
                return Status::Failed("cannot create '" + Utf8FromPath(copy.parent_path()) +
                                      "': " + error.message());
            }
            const Result<IndexedCopy> written = WriteCopyAndIndex(
                file.sourcePath, copyPath, indexPath, blockSize, options.stopRequested);
            if (!written) {
                RemoveEmptyFolders(copy.parent_path(), transfer);  // made for this copy alone
                return written.Error();
            }
            summary.bytesIndexed += written->size;
            sum = IndexHead{static_cast<std::uint32_t>(written->size), written->crc32, blockSize};
            entry.size = written->size;
            entry.sha256 = written->sha256;
            action = wasListed ? PublishAction::Changed : PublishAction::Added;
            ++(wasListed ? summary.changed : summary.added);
        }
        // The copy carries the listed time, so the quick check above holds next time and a
        // web server's Last-Modified agrees with the list.
        SetLastWriteTime(copyPath, time);
        newList.push_back({file.repoPath, time});
        if (sum) {
            sums += formatFileSumLine(time, sum->size, sum->crc32, file.repoPath);
        }
        entry.time = time;
        signedFiles.push_back(std::move(entry));
        if (wasListed) {
            listed.erase(old);
        }
        if (options.progress) {
            options.progress(++index, files.size(), file.repoPath, action);
        }
    }

    // The sums name their files' listed times, so a client reading them beside an older or
    // newer list uses only the lines that agree with its list; they go before the list all the
    // same, so that a client reading the new list finds them.
    const fs::path sumsPath = repo / kFileSumsPath;
    if (!fs::exists(sumsPath, error) || ReadAll(sumsPath) != sums) {
        if (StopAsked(options.stopRequested)) {
            return Stopped();
        }
        if (Status written = WriteAtomically(sumsPath, sums); !written) {
            return written;
        }
    }
    // The list goes last: a client reading it finds every copy and index it names.
    const std::string text = FormatFileList(newList);
    if (!fs::exists(fileListPath, error) || ReadAll(fileListPath) != text) {
        if (StopAsked(options.stopRequested)) {
            return Stopped();
        }
        std::vector<std::string> paths;
        paths.reserve(newList.size());
        for (const auto& entry : newList) {
            paths.push_back(entry.path);
        }
        // Checked before anything was written; only new times of other lengths could differ.
        if (auto why = WhyListIsRefused(text, paths, options.maxFileListBytes)) {
            return Status::Failed(*why + "; the file list was left as it was");
        }
        if (Status written = WriteAtomically(fileListPath, text); !written) {
            return written;
        }
        summary.fileListWritten = true;
    }
    if (options.listed) {
        if (Status signedFilesWritten = options.listed(signedFiles); !signedFilesWritten) {
            return signedFilesWritten;
        }
    }

    // Files no longer in the source leave the repository after the list stopped naming them.
    toRemove = listed.size();
    for (const auto& [path, time] : listed) {
        if (StopAsked(options.stopRequested)) {
            return Stopped();
        }
        --toRemove;
        if (WhyPathIsRefused(path)) {
            continue;  // never delete by a name that could point outside the repository
        }
        RemoveCopy(transfer, path);
        ++summary.removed;
        if (options.progress) {
            options.progress(summary.removed, listed.size(), path, PublishAction::Removed);
        }
    }
    return {};
}

}  // namespace

Result<PublishSummary> PublishRepository(const PublishOptions& options) {
    const fs::path source = PathFromUtf8(options.sourceDir);
    const fs::path repo = PathFromUtf8(options.repoDir);
    std::error_code error;
    if (!fs::is_directory(source, error)) {
        return Status::Failed("the source folder '" + options.sourceDir +
                              "' does not exist or is not a folder");
    }
    if (fs::exists(repo, error) && fs::equivalent(source, repo, error)) {
        return Status::Failed("the repository folder must differ from the source folder");
    }
    Result<std::vector<SourceFile>> files = CollectSources(source, repo, options);
    if (files && StopAsked(options.stopRequested)) {
        files = Stopped();
    }
    if (!files) {
        return files.Cause() == Fault::Stopped ? StoppedIn(PublishSummary(), 0) : files.Error();
    }

    const fs::path transfer = repo / kTransferFolder;
    fs::create_directories(transfer, error);
    if (error) {
        return Status::Failed("cannot create '" + Utf8FromPath(transfer) + "': " + error.message());
    }
    // A second publish into the same repository would interleave its copies, indexes and file
    // list with this one's; it is turned away until this one is done.
    const Result<std::unique_ptr<FolderLock>> lock = FolderLock::TryLock(Utf8FromPath(repo));
    if (!lock && lock.Cause() == Fault::HeldElsewhere) {
        return Status::Failed("another publish is running on '" + Utf8FromPath(repo) +
                                  "'; wait until it has finished and try again",
                              Fault::HeldElsewhere);
    }
    if (!lock) {
        return Status::Failed("cannot lock '" + Utf8FromPath(repo) + "': " + lock.Message());
    }
    PublishSummary summary;
    std::size_t toRemove = 0;
    if (Status published = PublishFiles(options, files.Value(), repo, summary, toRemove);
        !published) {
        return published.Cause() == Fault::Stopped ? StoppedIn(summary, toRemove) : published;
    }
    return summary;
}

}  // namespace veldmoor
