// Which repository paths a published repository can carry. The file list quotes each path
// between double quotes on one line, the launcher refuses a path with ".." as one of its names
// (a name such as "a..b" is fine), treats a backslash as a folder separator, and the players'
// installations live on Windows, whose file names cannot hold some characters and do not tell upper
// from lower case.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace veldmoor {

// Why `repoPath` (forward slashes, relative, UTF-8) cannot be published; nullopt when it can.
std::optional<std::string> WhyPathIsRefused(const std::string& repoPath);

// Why a listed time cannot be published (the list carries digits of a signed 32-bit number).
std::optional<std::string> WhyTimeIsRefused(long long secondsSince1970);

// Pairs of paths that would land on the same file of a player's installation: equal but for
// case, or one being the other's ".tmp" rebuild file or ".chunks" index. Each entry is a
// readable explanation. `sortedPaths` must be sorted.
std::vector<std::string> CollidingPaths(const std::vector<std::string>& sortedPaths);

}  // namespace veldmoor
