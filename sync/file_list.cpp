#include "sync/file_list.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <regex>

#include "sync/patch_exception.h"
#include "system/path.h"

namespace veldmoor {
namespace {

// Built once and shared by every list: compiling a std::regex costs far more than a search.
const std::regex kEntryPattern(R"(\{ path: \"(.+?)\", time: \"(\d+?)\" \})",
                               std::regex::ECMAScript);

std::int64_t parseTime(std::string_view digits, const std::string& repoPath) {
    std::int32_t time = 0;
    const auto* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, time, 10);
    if (error != std::errc() || stop != end) {
        throw PatchException(2, 1, repoPath,
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

bool isSafeRepoPath(std::string_view repoPath) {
    if (repoPath.empty() || repoPath.front() == '/' || repoPath.front() == '\\' ||
        repoPath.find('\0') != std::string_view::npos) {
        return false;  // a NUL would end the name the file system sees early
    }
    if (repoPath.size() >= 2 && repoPath[1] == ':') {
        return false;  // a drive ("C:x" is relative to the drive's current folder, not ours)
    }
    std::size_t start = 0;
    while (start <= repoPath.size()) {
        const auto end = std::min(repoPath.find_first_of("/\\", start), repoPath.size());
        if (repoPath.substr(start, end - start) == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::vector<RemoteFile> parseFileList(std::string_view body, const std::string& installFolder) {
    std::vector<RemoteFile> files;
    using Iterator = std::regex_iterator<std::string_view::const_iterator>;
    for (Iterator it(body.begin(), body.end(), kEntryPattern), end; it != end; ++it) {
        const auto& match = *it;
        RemoteFile file;
        file.repoPath = match[1].str();
        file.time = parseTime(std::string_view(&*match[2].first, match[2].length()), file.repoPath);
        file.localPath = localPathOf(installFolder, file.repoPath);
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace veldmoor
