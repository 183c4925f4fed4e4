#pragma once

#include <cstdint>
#include <string>

namespace veldmoor {

// One entry of a repository's file list.
struct RemoteFile {
    std::string localPath;  // installation folder + separator + repository path in local form
    std::string repoPath;   // exactly as the server wrote it, forward slashes
    std::int64_t time = 0;  // modification time on the server, seconds since 1970 (UTC)
};

}  // namespace veldmoor
