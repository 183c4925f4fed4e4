// Rebuilding one prepared file: the new version is laid out in its temporary file (see
// temporaryPathOf) from the local copy's blocks and the downloaded ranges, checked against the
// index's CRC-32 (and the manifest's SHA-256 when the repository is signed) as it lies on the
// drive, and only then put in the old file's place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sync/patch_exception.h"
#include "sync/prepared_file.h"
#include "sync/rebuild_target.h"
#include "sync/repo_sync.h"
#include "system/new_file.h"

namespace veldmoor {

// Bytes copied or zero-filled per write while laying out the temporary file.
inline constexpr std::size_t kCopyBlockSize = 128 * 1024;

class RangeReceiver;  // sync/range_receiver.h

// One file's rebuild in steps, so that the range requests of several files can be on the wire
// at once. The constructor makes the temporary file; receiver() takes the downloads; layOut()
// copies the local blocks, while the downloads already asked for come; finish() checks the
// file and puts it in place. Destroyed before finish(), it leaves the old file as it was and
// removes the temporary one.
class FileRebuild {
public:
    // Throws PatchException. `laidOutEarly`, when given, is the temporary file with the local
    // copy's blocks written already (EarlyLayout), to be finished rather than made.
    FileRebuild(const PreparedFile& file, const ProgressCallback& progress,
                RebuildTarget laidOutEarly = {});
    ~FileRebuild();
    FileRebuild(const FileRebuild&) = delete;
    FileRebuild& operator=(const FileRebuild&) = delete;

    // Copies the blocks taken from the local copy and the resume data into place. `stop` is
    // asked after each block; `meanwhile` after every few, and is where the caller takes in the
    // range answers already on their way (their writes land elsewhere in the file). Either
    // returning true ends the copy with SyncCancelled.
    void layOut(const StopRequest& stop, const StopRequest& meanwhile = nullptr);
    // Where the downloads go; null when the file needs none.
    RangeReceiver* receiver() { return receivers_.empty() ? nullptr : receivers_.front().get(); }
    // Spreads the downloads that the first receiver has not begun over up to `parts` receivers
    // in all, each of a stretch of the file, so that a large file with many changed blocks is
    // fetched over several connections at once rather than one request after another. The
    // first receiver keeps `keepMissing` pieces (what its current request asks for); nothing
    // is spread unless each new receiver gets at least that many. Returns the new receivers.
    std::vector<RangeReceiver*> spreadDownloads(std::size_t parts, std::size_t keepMissing);
    // The range requests failed: throws what their transfer recorded (RangeTransfer::failure),
    // or a full drive when writing was what failed.
    [[noreturn]] void failTransfer(const PatchException& transferFailure);
    // After a failed or stopped transfer: keeps what was written under the file's resume name
    // (sync/resume_data.h) when enough of it came, so that the next run need not fetch it
    // again. True when kept; the temporary file is gone either way once this object is.
    bool keepForResume() noexcept;
    // Once every download has come: checks the whole file's CRC-32 as it lies on the drive
    // (and, for a signed file, its size and SHA-256 in the same read: the ContentMismatch
    // refusal), gives it its time and closes it, so that a file waiting for its turn to be put in
    // place holds neither a descriptor nor a buffer. With CloseSync::Together its bytes are
    // only forced to the drive by forceTogether or finish. Throws PatchException.
    void seal(CloseSync sync = CloseSync::Now);
    // Forces the bytes of the sealed files among `rebuilds` to the drive at once: a batch of
    // files costs one flush rather than one each. A file that cannot be forced fails in finish.
    static void forceTogether(const std::vector<FileRebuild*>& rebuilds);
    // Seals the file unless that was done, and moves it over the old file (see
    // NewFile::MoveOver for `sync`). Throws PatchException.
    void finish(MoveSync sync = MoveSync::Now);

private:
    [[noreturn]] void failWriting(const Status& failure) const;

    const PreparedFile& file_;
    ProgressCallback progress_;
    std::uint32_t size_ = 0;
    std::unique_ptr<ReadBackCheck> check_;  // declared before the file it reads: outlives it
    std::unique_ptr<NewFile> temp_;
    bool localLaidOut_ = false;  // the local copy's blocks are in temp_ already
    // One receiver per stretch of the file fetched on its own; their writes each seek first, so
    // they share the file's stream. Their progress is told as one.
    std::unique_ptr<RangeReceiver> makeReceiver(std::vector<Piece> pieces);
    std::vector<std::unique_ptr<RangeReceiver>> receivers_;
    std::vector<std::uint32_t> writtenByReceiver_;
    std::uint32_t written_ = 0;
    std::uint32_t toDownload_ = 0;
    bool laidOut_ = false;
    bool sealed_ = false;
};

// Makes the temporary file of `file`'s rebuild, `size` bytes long and its room on the drive
// claimed, with its check reading it back already (the CRC-32 with `takesCrc`, the SHA-256 with
// `takesSha`). Throws PatchException: the path refused, a folder in the file's place, a full
// drive, a file that cannot be made.
RebuildTarget createRebuildTarget(const RemoteFile& file, std::uint32_t size, bool takesCrc,
                                  bool takesSha);

// Whether the folder above a path is there, and why not when it is not.
struct ParentFolders {
    PathRefusal refusal = PathRefusal::None;
    // The system's words when it refused to make a folder ("cannot create '<folder>'"); empty
    // otherwise.
    std::string systemError;

    bool ok() const { return refusal == PathRefusal::None; }
};

// Creates the folders above `path`, one level per step, at most 32 levels, and refuses a path
// that needs more before making any.
[[nodiscard]] ParentFolders makeParentFolders(const std::string& path);
// True when makeParentFolders succeeds.
bool ensureParentFolder(const std::string& path);

// The failure for a listed path the engine will not or cannot use (category 0, code 2, with the
// refusal as "Reason").
PatchException pathRefused(const std::string& repoPath, PathRefusal refusal,
                           const std::string& systemError = {});

// CRC-32 (zlib) of a file's contents, read once from start to end; 0 when it cannot be opened.
std::uint32_t fileCrc32(const std::string& path);

}  // namespace veldmoor
