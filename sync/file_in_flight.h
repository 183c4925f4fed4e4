// One file not current on its way from its chunk index to its place, and every change of its
// stage (sync/README.md, "One run through the stages"). RepoSync's driver holds the files in
// list order and calls these transitions: step() moves files on whatever the order, while a
// plan is taken, and a file placed, in the list's order.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sync/chunk_index.h"
#include "sync/file_planning.h"
#include "sync/http_transfer.h"
#include "sync/prepared_file.h"
#include "sync/remote_file.h"
#include "sync/repo_sync.h"

namespace veldmoor {

class FileRebuild;   // sync/patch_file.h
class TransferPool;  // sync/transfer_pool.h

//   Waiting   its chunk index is not asked for yet (indexes use at most half the handles)
//   Index     its chunk index is on its way, parsed as it streams in
//   Planned   the plan is made (or needed no index); once taken in list order, the rebuild may
//             begin
//   Fetching  the rebuild has begun: local blocks laid out, its range requests on their way
//   Sealed    every byte came and the file passed its checks, or it needs only its time; it
//             waits for its turn holding no descriptor
//   Placed    moved into place or given its time in its turn, or examined by content and found
//             to be the target with its listed time
//   Failed    why is kept and told in the file's turn, after the files before it
enum class FileStage { Waiting, Index, Planned, Fetching, Sealed, Placed, Failed };

// What a file's rebuild needs of the run, the same for every file.
struct RebuildContext {
    TransferPool& pool;
    HttpSession& session;
    const std::string& repoAddress;
    // patchPreparedFiles's; a file's progress is held until its turn to tell it.
    const ProgressCallback& progress;
    const StopRequest& stop;
};

class FileInFlight {
public:
    // A file whose chunk index is to be fetched from `indexUrl` (Waiting).
    FileInFlight(const RemoteFile& file, const LocalCopy& local, FileCheckCallback onCheck,
                 const std::string& indexUrl, HttpSession& session);
    // A file planned without its index (Planned).
    FileInFlight(const RemoteFile& file, const LocalCopy& local, FileCheckCallback onCheck,
                 PreparedFile planned);
    // A file refused before anything is fetched (Failed): told in its turn.
    FileInFlight(const RemoteFile& file, FileCheckCallback onCheck, std::exception_ptr failure);
    // Ends what is on its way. A file still fetching (a stop, a failure of the run) keeps what
    // came for the next run.
    ~FileInFlight();
    FileInFlight(const FileInFlight&) = delete;
    FileInFlight& operator=(const FileInFlight&) = delete;

    FileStage stage() const { return stage_; }
    const RemoteFile& file() const { return file_; }

    // --- Whatever the list's order (RepoSync's step) ---

    // Waiting to Index: its index is asked for ahead of the ranges already queued.
    void askForIndex(TransferPool& pool);
    // A file with no local copy waits with its index unasked while the file list's sums, which
    // may make the index needless, are on their way (sync/file_sums.h).
    void holdIndex(bool held) { indexHeld_ = held; }
    bool indexHeld() const { return indexHeld_; }
    // Waiting to Planned, with the plan the sums gave; the index is never asked for.
    void planWithoutIndex(PreparedFile planned);
    // Its index transfer is on its way; false before it was asked for and once it has ended.
    bool indexOnItsWay() const;
    // Nothing of its index is on its way or waits to be asked for.
    bool indexEnded() const;
    // Its index has come and the plan is still to be made.
    bool indexCame() const;
    // Bytes the index parsed so far holds.
    std::size_t indexBytesHeld() const;
    // Index to Planned once the index has come, or to Failed keeping why; to Placed when
    // examined by content and found to be the target with its time. The index is let go: a
    // window of large files' indexes would otherwise wait whole for the file at its head.
    // `stopped`: the caller asked to stop, so a failed transfer is a cancellation.
    // `layOutEarly`: a large local copy may be written into the new file while it is scanned.
    void makePlan(const ManifestEntry* signedContent, bool verifyContent, bool stopped,
                  bool layOutEarly);
    // Its plan holds a temporary file laid out while its local copy was scanned.
    bool holdsEarlyLayout() const { return planned_ && planned_->laidOutEarly; }

    // --- In list order ---

    // Nothing more is waited for before the plan can be taken: planned, failed or intact.
    bool planDecided() const { return stage_ != FileStage::Waiting && stage_ != FileStage::Index; }
    // The file's turn to be planned: it is named through onCheck (unless found intact) and its
    // failure thrown. The bytes its downloads take; nothing when there is nothing to do (false).
    bool takePlan(std::uint64_t& downloadBytes);

    // --- Whatever the list's order again ---

    // Planned to Fetching: lays out its local blocks and sends its range requests; to Sealed
    // when only its time needs setting; to Failed when the rebuild cannot begin (told in the
    // file's turn, after the files before it).
    void beginRebuild(const RebuildContext& run);
    std::uint64_t targetSize() const { return targetSize_; }
    // None of its transfers is on its way: each is done or failed, or was ended because another
    // one failed.
    bool transferEnded() const;
    // The first of its transfers that failed; null when none did.
    const RangeTransfer* failedTransfer() const;
    // Fetching: once one of its transfers has failed, the others end now; a file with more
    // changed pieces than one request asks for is spread over several connections once the
    // server has shown that it answers ranges.
    void keepFetching(const RebuildContext& run);
    // Fetching to Sealed (checked, given its time, closed) once every byte came, or to Failed.
    void sealIfComplete();

    // --- Its turn to be placed, in list order (sync/file_placing.h) ---

    // The file's progress is told from now on, beginning with what was held back.
    void tellProgressFromNow(const ProgressCallback& progress);
    bool tellsProgress() const { return progressInTurn_; }
    // The sealed rebuild to force to the drive with its batch; null when there is none.
    FileRebuild* sealedRebuild() const;
    // Sealed to Placed: moved over the old file (its folder noted in `foldersMovedInto`, forced
    // to the drive later) or given its time; throws the failure of a Failed file.
    void place(std::set<std::string>& foldersMovedInto);
    // On a stop: a Sealed file, whole and checked like any other, is put in place out of its
    // turn rather than thrown away, so that the next run need not fetch it again. A file that
    // cannot be moved leaves the old one, which the next run fetches again.
    void placeOutOfTurn(std::set<std::string>& foldersMovedInto) noexcept;

private:
    void fail();

    RemoteFile file_;
    LocalCopy local_;
    FileCheckCallback onCheck_;
    FileStage stage_;
    std::exception_ptr failure_;  // why, once Failed

    // Waiting and Index: the chunk index, parsed as it arrives.
    struct IndexFetch;
    std::unique_ptr<IndexFetch> index_;
    bool indexHeld_ = false;

    // From Planned on.
    std::optional<PreparedFile> planned_;
    std::uint64_t targetSize_ = 0;
    // The local copy is the target: the file only gets its time.
    bool timeOnly_ = false;
    // Its downloads were spread over several transfers, or need not be.
    bool spread_ = false;
    TransferPool* pool_ = nullptr;  // where its range transfers run, once begun
    std::unique_ptr<FileRebuild> rebuild_;
    // One per stretch of the file fetched on its own (FileRebuild::spreadDownloads).
    std::vector<std::unique_ptr<RangeTransfer>> transfers_;

    // Progress is told in list order: while an earlier file is on its way, the latest is held.
    bool progressInTurn_ = false;
    struct Written {
        unsigned int written;
        unsigned int total;
    };
    std::optional<Written> heldProgress_;
};

}  // namespace veldmoor
