// A file that RepoSync found not current, with what it takes to rebuild it.
#pragma once

#include <string>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/remote_file.h"

namespace veldmoor {

struct PreparedFile {
    RemoteFile file;
    BlockPlan plan;                // local and download pieces in target order
    bool sizeDiffers = false;      // the local copy's size differs from the target size
    bool hasLocalCopy = false;     // a regular file (not a link) is at the local path
    std::vector<Piece> downloads;  // the plan's download pieces in target order
    std::string resumePath;        // resume data the plan takes pieces from; empty when none
};

}  // namespace veldmoor
