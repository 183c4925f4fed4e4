// Rebuilding one prepared file: the new version is laid out in "<local path>.tmp" from the
// local copy's blocks and the downloaded ranges, checked against the index's CRC-32, and only
// then put in the old file's place.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "sync/prepared_file.h"
#include "sync/repo_sync.h"

namespace veldmoor {

// Bytes copied or zero-filled per write while laying out the temporary file.
inline constexpr std::size_t kCopyBlockSize = 128 * 1024;

// Rebuilds `file` and replaces the old local file with the new one in one step (a reader never
// sees the file missing). Downloads come from repoAddress + "/transfer/" + repository path
// through `handle` (may be null). Throws PatchException; on a checksum failure the temporary
// file is removed, on every failure the old file is left as it was.
void patchFile(const PreparedFile& file, const std::string& repoAddress, CURL* handle,
               const ProgressCallback& progress);

// Creates the folders above `path`, one level per step, at most 32 levels. False when the path
// is empty, contains "..", or a level cannot be created.
bool ensureParentFolder(const std::string& path);

// CRC-32 (zlib) of a file's contents, read once from start to end; 0 when it cannot be opened.
std::uint32_t fileCrc32(const std::string& path);

}  // namespace veldmoor
