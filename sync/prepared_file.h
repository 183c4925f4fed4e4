// A file that RepoSync found not current, with what it takes to rebuild it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/rebuild_target.h"
#include "sync/remote_file.h"

namespace veldmoor {

struct ManifestEntry;  // sync/signed_metadata.h

struct PreparedFile {
    RemoteFile file;
    BlockPlan plan;                // local and download pieces in target order
    bool sizeDiffers = false;      // the local copy's size differs from the target size
    bool hasLocalCopy = false;     // a regular file (not a link) is at the local path
    std::vector<Piece> downloads;  // the plan's download pieces in target order
    std::string resumePath;        // resume data the plan takes pieces from; empty when none
    // The size and SHA-256 the file put in place must have; null when the repository is not
    // verified. Points into the run's manifest.
    const ManifestEntry* signedContent = nullptr;
    // Fetched whole without its chunk index (a signed file with no local copy): there is no
    // CRC-32 to check, only the signed content.
    bool wholeFile = false;
    // Set when the local copy's content was examined already (by its signed hash, or when
    // verifying): whether it is the target, so that only its time needs setting.
    std::optional<bool> knownCurrent;
    // The temporary file with the local copy's blocks written while the copy was scanned
    // (EarlyLayout); null when they are copied after the plan.
    RebuildTarget laidOutEarly;
};

}  // namespace veldmoor
