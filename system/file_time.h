// A file's last-write time in whole seconds since 1970-01-01 00:00:00 UTC. The repository
// driver stores the server's time as the local file's time after each update and compares the
// two to decide whether a file is current.
#pragma once

#include <cstdint>
#include <string>

namespace veldmoor {

// Last-write time of the regular file at `path`; -1 when it does not exist, is not a regular
// file or its time cannot be read.
std::int64_t LastWriteTime(const std::string& path);

// Sets only the last-write time of an existing file (the access time stays). False when the
// file does not exist or its time cannot be changed.
bool SetLastWriteTime(const std::string& path, std::int64_t secondsSince1970);

}  // namespace veldmoor
