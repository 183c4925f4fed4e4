#include "tools/publish/name_rules.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "sync/chunk_index.h"
#include "sync/repository_layout.h"

namespace veldmoor {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

}  // namespace

std::optional<std::string> WhyPathIsRefused(const std::string& repoPath) {
    if (const PathRefusal refusal = repoPathRefusal(repoPath); refusal != PathRefusal::None) {
        return describePathRefusal(refusal) + ", which the launcher refuses";
    }
    for (const char c : repoPath) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"') {
            return "it contains a double quote, which ends the path in the file list";
        }
        if (c == '\n' || c == '\r') {
            return "it contains a line break, which the file list cannot carry";
        }
        if (byte < 0x20 || byte == 0x7F) {
            return "it contains a control character";
        }
        if (c == '\\') {
            return "it contains a backslash, which the launcher treats as a folder separator";
        }
        if (c == '<' || c == '>' || c == ':' || c == '|' || c == '?' || c == '*') {
            return std::string("it contains '") + c + "', which Windows file names cannot hold";
        }
    }
    // Windows drops trailing dots and blanks of every name, so such names change on the way.
    std::size_t start = 0;
    while (start <= repoPath.size()) {
        auto end = repoPath.find('/', start);
        if (end == std::string::npos) {
            end = repoPath.size();
        }
        const std::string segment = repoPath.substr(start, end - start);
        if (segment.empty()) {
            return "it contains an empty folder name";
        }
        if (segment == "..") {
            return "it contains \"..\" as a name, which would lead out of the folder";
        }
        if (segment == ".") {
            return "it contains \".\" as a name, which names the folder itself";
        }
        if (segment.back() == '.' || segment.back() == ' ') {
            return "the name '" + segment + "' ends in a dot or blank, which Windows drops";
        }
        start = end + 1;
    }
    const auto levels = static_cast<std::size_t>(std::count(repoPath.begin(), repoPath.end(), '/'));
    if (levels > kMaxPublishedFolderLevels) {
        return "it lies " + std::to_string(levels) + " folders deep; the launcher makes at most " +
               std::to_string(kMaxFolderSteps) +
               " folder levels, those of the installation folder included, so keep it within " +
               std::to_string(kMaxPublishedFolderLevels);
    }
    return std::nullopt;
}

std::optional<std::string> WhyTimeIsRefused(long long secondsSince1970) {
    if (secondsSince1970 < 0) {
        return "its modification time lies before 1970";
    }
    if (secondsSince1970 > INT32_MAX) {
        return "its modification time lies after 2038-01-19, beyond what the file list carries";
    }
    return std::nullopt;
}

std::optional<std::string> WhyIndexIsRefused(std::uint64_t size, std::uint32_t blockSize) {
    const std::uint64_t records = blockSize == 0 ? UINT64_MAX : (size + blockSize - 1) / blockSize;
    if (records <= kMaxChunkRecords) {
        return std::nullopt;
    }
    return "in blocks of " + std::to_string(blockSize) + " bytes its chunk index would hold " +
           std::to_string(records) + " records, more than the launcher reads (" +
           std::to_string(kMaxChunkRecords) + "); choose a larger --block-size";
}

std::vector<std::string> CollidingPaths(const std::vector<std::string>& sortedPaths) {
    std::vector<std::string> problems;
    std::map<std::string, std::string> byLowerCase;
    for (const auto& path : sortedPaths) {
        auto [it, inserted] = byLowerCase.emplace(Lower(path), path);
        if (!inserted) {
            problems.push_back("'" + it->second + "' and '" + path +
                               "' differ only in case; on Windows they are one file");
        }
    }
    const std::set<std::string> all(sortedPaths.begin(), sortedPaths.end());
    for (const std::string_view index : {kChunkIndexSuffix, kCompressedIndexSuffix}) {
        for (const auto& path : sortedPaths) {
            if (path.ends_with(index) &&
                all.count(path.substr(0, path.size() - index.size())) != 0) {
                problems.push_back("'" + path + "' collides with the chunk index of '" +
                                   path.substr(0, path.size() - index.size()) + "'");
            }
        }
    }
    const std::vector<std::string_view> views(sortedPaths.begin(), sortedPaths.end());
    for (auto& clash : listedNameClashes(views)) {
        problems.push_back(std::move(clash));
    }
    return problems;
}

std::optional<std::string> WhyListIsRefused(std::string_view text,
                                            const std::vector<std::string>& paths,
                                            std::size_t maxBytes) {
    if (text.size() > maxBytes) {
        return "the file list would take " + std::to_string(text.size()) +
               " bytes, more than the launcher reads (" + std::to_string(maxBytes) +
               "); publish fewer files or shorter names, or split the game into repositories";
    }
    std::vector<RemoteFile> entries;
    try {
        entries = parseFileList(text, "");
    } catch (const PatchException& e) {
        return std::string("the launcher would refuse the file list: ") + e.what();
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i >= entries.size() || entries[i].repoPath != paths[i]) {
            return "the launcher would not read '" + paths[i] + "' from the file list as written";
        }
    }
    if (entries.size() != paths.size()) {
        return "the launcher would read " + std::to_string(entries.size()) +
               " entries from the file list, not " + std::to_string(paths.size());
    }
    return std::nullopt;
}

}  // namespace veldmoor
