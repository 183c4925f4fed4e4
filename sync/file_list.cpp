#include "sync/file_list.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <unordered_map>

#include "sync/patch_exception.h"
#include "sync/resume_data.h"
#include "system/path.h"

namespace veldmoor {
namespace {

// An entry is `{ path: "<path>", time: "<digits>" }`: the path is the shortest text of one or
// more characters other than a line end that the time part follows. The entries are found by
// a scan rather than a regular expression: the standard library's engine recurses once per
// character of a lazily matched path, so a long line that opens an entry and never closes it
// would exhaust the stack. The scan finds the same entries in time linear in the body.
constexpr std::string_view kEntryStart = "{ path: \"";
constexpr std::string_view kTimeStart = "\", time: \"";
constexpr std::string_view kEntryEnd = "\" }";

bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// When the time part `", time: "<digits>" }` begins at `at`: its digits and where it ends.
bool timePartAt(std::string_view body, std::size_t at, std::string_view& digits, std::size_t& end) {
    if (!body.substr(at).starts_with(kTimeStart)) {
        return false;
    }
    const std::size_t first = at + kTimeStart.size();
    std::size_t last = first;
    while (last < body.size() && isDigit(body[last])) {
        ++last;
    }
    if (last == first || !body.substr(last).starts_with(kEntryEnd)) {
        return false;
    }
    digits = body.substr(first, last - first);
    end = last + kEntryEnd.size();
    return true;
}

std::int64_t parseTime(std::string_view digits, const std::string& repoPath) {
    std::int32_t time = 0;
    const auto* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, time, 10);
    if (error != std::errc() || stop != end) {
        throw PatchException(Failure::ServerDataInvalid, repoPath,
                             "File list entry for '" + repoPath + "' has the time " +
                                 std::string(digits) +
                                 ", which does not fit a signed 32-bit number.");
    }
    return time;
}

}  // namespace

std::string localPathOf(const std::string& installFolder, std::string_view repoPath) {
    std::string local = installFolder;
    local.reserve(installFolder.size() + 1 + repoPath.size());
    local.push_back(kPathSeparator);
    for (const char c : repoPath) {
        // A backslash separates folders on Windows, so it must separate them everywhere: the
        // same repository path then names the same file on every platform.
        local.push_back(c == '/' || c == '\\' ? kPathSeparator : c);
    }
    return local;
}

PathRefusal repoPathRefusal(std::string_view repoPath) {
    if (repoPath.empty()) {
        return PathRefusal::Empty;
    }
    if (repoPath.front() == '/' || repoPath.front() == '\\') {
        return PathRefusal::Rooted;
    }
    if (repoPath.find('\0') != std::string_view::npos) {
        return PathRefusal::NulByte;  // it would end the name the file system sees early
    }
    if (repoPath.size() >= 2 && repoPath[1] == ':') {
        // "C:x" is relative to the drive's current folder, not to the installation's
        return PathRefusal::Drive;
    }
    std::size_t start = 0;
    while (start <= repoPath.size()) {
        const auto end = std::min(repoPath.find_first_of("/\\", start), repoPath.size());
        if (repoPath.substr(start, end - start) == "..") {
            return PathRefusal::ParentComponent;
        }
        if (end == repoPath.size() && start == end) {
            return PathRefusal::FolderName;  // "dir/" names a folder, never a file
        }
        start = end + 1;
    }
    return PathRefusal::None;
}

std::string describePathRefusal(PathRefusal refusal) {
    switch (refusal) {
        case PathRefusal::None:
            return "nothing is wrong with it";
        case PathRefusal::Empty:
            return "the path is empty";
        case PathRefusal::Rooted:
            return "the path starts at the root of a drive";
        case PathRefusal::NulByte:
            return "the path holds a NUL byte";
        case PathRefusal::Drive:
            return "the path names a drive";
        case PathRefusal::ParentComponent:
            return "the path climbs out of its folder with '..'";
        case PathRefusal::TooDeep:
            return "the path is nested deeper than 32 folder levels";
        case PathRefusal::FileInTheWay:
            return "a file stands where one of its folders belongs";
        case PathRefusal::CannotCreate:
            return "one of its folders cannot be created";
        case PathRefusal::FolderName:
            return "the path ends in a separator, so it names a folder and not a file";
    }
    return "unknown reason";
}

std::string printablePath(std::string_view repoPath) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(repoPath.size());
    for (const char c : repoPath) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += c;
        }
    }
    return shown;
}

bool isSafeRepoPath(std::string_view repoPath) {
    return repoPathRefusal(repoPath) == PathRefusal::None;
}

std::string temporaryPathOf(const std::string& localPath) {
    return localPath + ".tmp";
}

std::string fileListProblem(const std::vector<RemoteFile>& files) {
    std::vector<std::string_view> paths;
    paths.reserve(files.size());
    for (const RemoteFile& file : files) {
        paths.emplace_back(file.repoPath);
    }
    std::vector<std::string> clashes = listedNameClashes(paths, 1);
    return clashes.empty() ? std::string() : std::move(clashes.front());
}

std::vector<std::string> listedNameClashes(const std::vector<std::string_view>& repoPaths,
                                           std::size_t most) {
    std::unordered_map<std::string, std::string_view> folded;
    folded.reserve(repoPaths.size());
    const auto fold = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        });
        std::replace(text.begin(), text.end(), '\\', '/');
        return text;
    };
    for (const std::string_view path : repoPaths) {
        folded.emplace(fold(std::string(path)), path);
    }
    std::vector<std::string> clashes;
    for (const std::string_view path : repoPaths) {
        if (clashes.size() >= most) {
            break;
        }
        const std::string own(path);
        const auto other = folded.find(fold(temporaryPathOf(own)));
        if (other != folded.end()) {
            clashes.push_back("the list holds both '" + own + "' and '" +
                              std::string(other->second) +
                              "', the name in which the first is rebuilt");
        }
        const auto resume = folded.find(fold(resumePathOf(own)));
        if (resume != folded.end()) {
            clashes.push_back("the list holds both '" + own + "' and '" +
                              std::string(resume->second) +
                              "', the name of what a broken transfer of the first keeps");
        }
    }
    return clashes;
}

std::vector<FileListEntryText> findFileListEntries(std::string_view body) {
    std::vector<FileListEntryText> entries;
    std::size_t from = 0;
    for (;;) {
        const std::size_t start = body.find(kEntryStart, from);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t pathBegin = start + kEntryStart.size();
        std::size_t pathEnd = pathBegin;
        std::string_view digits;
        std::size_t entryEnd = 0;
        bool found = false;
        while (pathEnd < body.size() && !isLineEnd(body[pathEnd])) {
            ++pathEnd;
            if (timePartAt(body, pathEnd, digits, entryEnd)) {
                found = true;
                break;
            }
        }
        if (!found) {
            // No time part follows before the line ends; an entry opening later on this line
            // could only end at one of the places just tried, so the search goes on after them.
            from = pathEnd;
            continue;
        }
        entries.push_back({body.substr(pathBegin, pathEnd - pathBegin), digits});
        from = entryEnd;
    }
    return entries;
}

std::vector<RemoteFile> parseFileList(std::string_view body, const std::string& installFolder) {
    const std::vector<FileListEntryText> entries = findFileListEntries(body);
    std::vector<RemoteFile> files;
    files.reserve(entries.size());  // no doubling: the list may be megabytes of short entries
    for (const FileListEntryText& entry : entries) {
        RemoteFile file;
        file.repoPath = std::string(entry.path);
        file.time = parseTime(entry.time, file.repoPath);
        file.localPath = localPathOf(installFolder, file.repoPath);
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace veldmoor
