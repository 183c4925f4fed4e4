#include "tools/publish/name_rules.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

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
    if (repoPath.empty()) {
        return "the path is empty";
    }
    if (repoPath.front() == '/') {
        return "the path is rooted";
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
    for (const auto& path : sortedPaths) {
        for (const std::string suffix : {".tmp", ".chunks"}) {
            if (path.size() > suffix.size() &&
                path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                all.count(path.substr(0, path.size() - suffix.size())) != 0) {
                problems.push_back("'" + path + "' collides with the " +
                                   (suffix == ".tmp" ? "rebuild file" : "chunk index") + " of '" +
                                   path.substr(0, path.size() - suffix.size()) + "'");
            }
        }
    }
    return problems;
}

}  // namespace veldmoor
