// What a published repository can carry, so that no launcher refuses it. The launcher's own
// rules and bounds (sync/file_list.h, sync/chunk_index.h) are applied through its own
// functions and constants; on top come what the players' file system cannot hold: their
// installations live on Windows, whose file names cannot hold some characters and do not tell
// upper from lower case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/file_list.h"

namespace veldmoor {

// Folder levels a published path may have: the launcher makes at most kMaxFolderSteps levels
// counted from the root of the drive, and this leaves room for an installation folder eight
// levels deep.
inline constexpr std::size_t kMaxPublishedFolderLevels = kMaxFolderSteps - 8;

// Why `repoPath` (forward slashes, relative, UTF-8) cannot be published; nullopt when it can.
std::optional<std::string> WhyPathIsRefused(const std::string& repoPath);

// Why a listed time cannot be published (the list carries digits of a signed 32-bit number).
std::optional<std::string> WhyTimeIsRefused(long long secondsSince1970);

// Why a file of `size` bytes cannot be indexed in blocks of `blockSize`: the launcher reads at
// most kMaxChunkRecords records of an index.
std::optional<std::string> WhyIndexIsRefused(std::uint64_t size, std::uint32_t blockSize);

// Pairs of paths that would land on the same file of a player's installation or repository:
// equal but for case, one being the other's rebuild file or resume data (as the launcher
// finds them, case ignored), or one being the other's ".chunks" index. Each entry is a
// readable explanation. `sortedPaths` must be sorted.
std::vector<std::string> CollidingPaths(const std::vector<std::string>& sortedPaths);

// Why the launcher would refuse the file list `text`, written for `paths` in this order: it is
// larger than `maxBytes` (the launcher's bound; tests lower it), the launcher's parser refuses
// an entry (a time beyond 32 bits), or it would read other paths from it.
std::optional<std::string> WhyListIsRefused(std::string_view text,
                                            const std::vector<std::string>& paths,
                                            std::size_t maxBytes = kMaxFileListBytes);

}  // namespace veldmoor
