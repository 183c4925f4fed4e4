// The plan of one file not current: what of it is taken from the local copy (or from resume data
// of a broken transfer), and what is downloaded. Made as soon as the file's chunk index has come,
// or at once when the file needs no index (sync/README.md, "One run through the stages").
#pragma once

#include <cstdint>

#include "sync/chunk_index.h"
#include "sync/prepared_file.h"
#include "sync/remote_file.h"
#include "system/file_ops.h"

namespace veldmoor {

class DocumentTransfer;  // sync/http_transfer.h
struct ManifestEntry;    // sync/signed_metadata.h
struct FileSum;          // sync/file_sums.h

// What was found at a file's local path when it was looked at (RepoSync::prepareFile).
struct LocalCopy {
    PathKind kind = PathKind::Missing;  // only a regular file is a local copy, never a link
    std::int64_t size = -1;             // -1 unless a regular file
    bool timeMatches = false;           // it has the listed time
    bool contentDiffers = false;        // examined by its signed hash and found to differ
};

// The plan from the chunk index that came through `transfer` and was parsed as it streamed into
// `reader`: the local copy matched against the index, the gaps made download pieces, and resume
// data of the same version taken as a second source. With `verifyContent` and no signed content
// the index alone decides whether the local copy is current (PreparedFile::knownCurrent). Throws
// the file's failure: the index not fetched, not valid, or describing another size than the
// signed one. With `layOutEarly`, a large local copy that differs has its blocks written into
// the new file while it is scanned (PreparedFile::laidOutEarly).
PreparedFile planFromIndex(const RemoteFile& file, const LocalCopy& local,
                           const DocumentTransfer& transfer, ChunkIndexReader& reader,
                           const ManifestEntry* signedContent, bool verifyContent,
                           bool layOutEarly = false);

// A signed file whose local copy holds the signed content and only lacks its time.
PreparedFile timeOnlyPlan(const RemoteFile& file, const ManifestEntry& signedEntry);

// A signed file with no local copy, fetched whole and checked by its signed content.
PreparedFile wholeFilePlan(const RemoteFile& file, const ManifestEntry& signedEntry);

// A file with no local copy whose size and CRC-32 the file list's sums give: the plan its chunk
// index would give, without the index (sync/file_sums.h).
PreparedFile summedFilePlan(const RemoteFile& file, const FileSum& sum);

// True when the local copy already is the target, so only its time needs setting.
bool localCopyIsCurrent(const PreparedFile& prepared);

// The size of the file the plan builds.
std::uint64_t targetSizeOf(const PreparedFile& file);

}  // namespace veldmoor
