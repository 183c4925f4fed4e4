#include "tools/publish/leftovers.h"

#include "sync/repository_layout.h"
#include "system/new_file.h"
#include "system/text_encoding.h"

namespace veldmoor {

namespace fs = std::filesystem;

namespace {

// `path` relative to `base`, in UTF-8 with '/' between names on every system.
std::string RepoPathOf(const fs::path& path, const fs::path& base) {
    std::string joined;
    for (const fs::path& name : path.lexically_relative(base)) {
        joined += (joined.empty() ? "" : "/") + Utf8FromPath(name);
    }
    return joined;
}

}  // namespace

std::vector<std::string> RemoveLeftovers(const fs::path& repo,
                                         const std::set<std::string>& published) {
    std::vector<std::string> removed;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(repo, error)) {
        const std::string name = Utf8FromPath(entry.path().filename());
        const std::string_view target = NewFile::TargetOfBesideName(name);
        if ((target == kFileListPath || target == kFileSumsPath) && entry.is_regular_file(error) &&
            fs::remove(entry.path(), error)) {
            removed.push_back(name);
        }
    }
    const fs::path transfer = repo / kTransferFolder;
    std::vector<fs::path> found;
    fs::recursive_directory_iterator it(transfer, error);
    for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
        const std::string path = RepoPathOf(it->path(), transfer);
        if (!NewFile::TargetOfBesideName(Utf8FromPath(it->path().filename())).empty() &&
            it->is_regular_file(error) && published.count(path) == 0) {
            found.push_back(it->path());
        }
    }
    for (const fs::path& leftover : found) {
        if (!fs::remove(leftover, error)) {
            continue;
        }
        removed.push_back(transferPathOf(RepoPathOf(leftover, transfer)));
        // A folder made for a new file whose copy never came is left empty.
        for (fs::path folder = leftover.parent_path();
             folder != transfer && folder.has_relative_path() && fs::is_empty(folder, error) &&
             !error;
             folder = folder.parent_path()) {
            fs::remove(folder, error);
        }
    }
    return removed;
}

}  // namespace veldmoor
