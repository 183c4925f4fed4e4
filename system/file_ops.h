// The few file-system operations the synchronisation engine needs beyond streams: sizes,
// folders, deleting, and replacing a file by another in one step.
#pragma once

#include <cstdint>
#include <string>

namespace veldmoor {

// Size in bytes of the regular file at `path`; -1 when it does not exist or is not a file.
std::int64_t FileSize(const std::string& path);

// True when `path` names an existing directory.
bool IsDirectory(const std::string& path);

// Creates one directory level. True when it was created or already exists as a directory.
bool MakeDirectory(const std::string& path);

// True when something (file, folder, link) exists at `path`.
bool PathExists(const std::string& path);

// What is at `path` itself: a link is reported as a link, never followed.
enum class PathKind { Missing, File, Folder, Link, Other };
PathKind KindOf(const std::string& path);

// Sets the last-write time of what is at `path` itself: when that is a link, the link's own
// time, never its target's. False when nothing is there or the time cannot be set.
bool SetLastWriteTimeOfEntry(const std::string& path, std::int64_t secondsSince1970);

// Bytes an unprivileged program may still write on the drive that holds `folder`; -1 when
// that cannot be told.
std::int64_t FreeSpaceAt(const std::string& folder);

// Deletes a file. True when it is gone afterwards (a missing file counts as deleted).
bool RemoveFile(const std::string& path);

}  // namespace veldmoor
