#include "patch/operations_processor.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "patch/operations_exception.h"
#include "system/folder_entries.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBlanks = "\t\n\r ";

bool IsBlank(char c) {
    return kBlanks.find(c) != std::string_view::npos;
}
bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// The list's path in local form, or nothing when it must not be run: empty, rooted, with a drive
// prefix, naming the target folder itself, climbing above it, or holding a NUL byte (the system
// would read the path only up to it, which can name the target folder itself).
std::optional<std::string> NormaliseListPath(std::string_view listed) {
    if (listed.empty() || IsSeparator(listed.front()) ||
        listed.find('\0') != std::string_view::npos)
        return std::nullopt;
    if (listed.size() >= 2 && listed[1] == ':')
        return std::nullopt;
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= listed.size()) {
        std::size_t end = start;
        while (end < listed.size() && !IsSeparator(listed[end]))
            ++end;
        const std::string_view part = listed.substr(start, end - start);
        if (part == "..") {
            if (parts.empty())
                return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    if (parts.empty())
        return std::nullopt;
    std::string local;
    for (const std::string_view part : parts) {
        if (!local.empty())
            local += kPathSeparator;
        local += part;
    }
    return local;
}

// True when a folder between folder and the entry is a symbolic link: removing through it would
// reach outside the target folder.
bool PassesThroughLink(const std::string& folder, const std::string& local) {
    std::string walked = folder;
    std::size_t start = 0;
    for (std::size_t end = local.find(kPathSeparator); end != std::string::npos;
         start = end + 1, end = local.find(kPathSeparator, start)) {
        walked = AppendPathComponent(walked, local.substr(start, end - start));
        std::error_code error;
        if (fs::is_symlink(fs::symlink_status(PathFromUtf8(walked), error)))
            return true;
    }
    return false;
}

// '*' any run of characters, '?' exactly one.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starPattern = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

void RemoveEntry(const std::string& path, const std::string& shownName, bool isFolder,
                 const BeforeRemoval& beforeRemoval, const CleanupLog& log,
                 const EntryRemover& remover) {
    beforeRemoval();
    log(EntryRemoving{shownName});
    if (isFolder) {
        if (!remover.RemoveTree(path)) {
            throw OperationsProcessorException(CleanupFailure::FolderNotRemoved, shownName,
                                               "Can't remove directory.");
        }
    } else if (!remover.RemoveFile(path)) {
        throw OperationsProcessorException(CleanupFailure::FileNotDeleted, shownName,
                                           "Can't remove file.");
    }
}

bool Cleanup(const std::string& launcherFolder, std::string_view target, const std::string& folder,
             CleanupTarget heading, const CleanupLog& log, const EntryRemover& remover) {
    bool removedAny = false;
    const BeforeRemoval beforeRemoval = [&] {
        if (removedAny)
            return;
        log(CleanupStarted{heading});
        removedAny = true;
    };
    ProcessOperationsFile(launcherFolder, target, [&](std::string_view rest) {
        ExecuteOperation(folder, rest, beforeRemoval, log, remover);
    });
    return removedAny;
}

}  // namespace

bool EntryRemover::RemoveFile(const std::string& path) const {
    std::error_code error;
    return fs::remove(PathFromUtf8(path), error) && !error;
}

bool EntryRemover::RemoveTree(const std::string& path) const {
    return RemoveFolderTree(path);
}

const EntryRemover& FileSystemRemover() {
    static const EntryRemover remover;
    return remover;
}

bool MatchKeyword(std::string_view text, std::string_view keyword, std::size_t& rest) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    if (text.size() - pos < keyword.size())
        return false;
    if (text.substr(pos, keyword.size()) != keyword)
        return false;
    pos += keyword.size();
    if (pos < text.size() && !IsBlank(text[pos]))
        return false;
    rest = pos;
    return true;
}

void ProcessOperationsFile(const std::string& listFolder, std::string_view target,
                           const std::function<void(std::string_view)>& handler) {
    std::ifstream list(PathFromUtf8(AppendPathComponent(listFolder, kOperationsFileName)));
    if (!list.is_open())
        return;
    ProcessOperationsList(list, target, handler);
}

void ProcessOperationsList(std::istream& list, std::string_view target,
                           const std::function<void(std::string_view)>& handler) {
    // Whole lines: a line cut into pieces could make its first piece name a shorter, other path.
    std::string line;
    while (std::getline(list, line)) {
        std::size_t rest = 0;
        if (MatchKeyword(line, target, rest))
            handler(std::string_view(line).substr(rest));
    }
}

bool ExecuteOperation(const std::string& folder, std::string_view text,
                      const BeforeRemoval& beforeRemoval, const CleanupLog& log,
                      const EntryRemover& remover) {
    std::size_t argument = 0;
    if (!MatchKeyword(text, "remove", argument))
        return false;
    const std::string listed(Trim(text.substr(argument)));

    const std::optional<std::string> local = NormaliseListPath(listed);
    if (!local || PassesThroughLink(folder, *local)) {
        log(EntryRefused{listed});
        return true;
    }

    const std::string full = AppendPathComponent(folder, *local);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(PathFromUtf8(full), error);
    if (fs::exists(status)) {
        RemoveEntry(full, listed, fs::is_directory(status), beforeRemoval, log, remover);
        return true;
    }
    if (local->find('*') == std::string::npos)
        return true;

    // Shown names keep the list's own spelling of the folder part.
    std::size_t listedFolderEnd = listed.size();
    while (listedFolderEnd > 0 && !IsSeparator(listed[listedFolderEnd - 1]))
        --listedFolderEnd;
    const std::string shownFolder = listed.substr(0, listedFolderEnd);
    for (const std::string& match : ExpandWildcard(full)) {
        const fs::file_status matchStatus = fs::symlink_status(PathFromUtf8(match), error);
        if (!fs::exists(matchStatus))
            continue;
        RemoveEntry(match, shownFolder + FileNameOf(match), fs::is_directory(matchStatus),
                    beforeRemoval, log, remover);
    }
    return true;
}

std::vector<std::string> ExpandWildcard(const std::string& pattern) {
    std::vector<std::string> matches;
    const std::string folder = DirectoryOf(pattern);
    const std::string namePattern = FileNameOf(pattern);
    const std::size_t lastStar = namePattern.rfind('*');
    const std::string suffix =
        lastStar == std::string::npos ? std::string() : namePattern.substr(lastStar + 1);
    for (const std::string& name : FolderEntryNames(folder)) {
        if (!MatchesPattern(name, namePattern))
            continue;
        if (name.size() < suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        matches.push_back(AppendPathComponent(folder, name));
    }
    return matches;
}

bool RemoveFolderTree(const std::string& path) {
    std::error_code error;
    fs::remove_all(PathFromUtf8(path), error);
    return !error;
}

bool CleanupLauncherData(const std::string& launcherFolder, const CleanupLog& log,
                         const EntryRemover& remover) {
    return Cleanup(launcherFolder, "launcher", launcherFolder, CleanupTarget::Launcher, log,
                   remover);
}

bool CleanupGameData(const std::string& launcherFolder, const std::string& gameFolder,
                     const CleanupLog& log, const EntryRemover& remover) {
    return Cleanup(launcherFolder, "client", gameFolder, CleanupTarget::Client, log, remover);
}

}  // namespace veldmoor
