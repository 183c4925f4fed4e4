#include "sync/repo_sync.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "sync/chunk_index.h"
#include "sync/file_list.h"
#include "sync/http_transfer.h"
#include "sync/patch_exception.h"
#include "sync/patch_file.h"
#include "sync/prepared_file.h"
#include "sync/range_receiver.h"
#include "sync/repository_layout.h"
#include "sync/resume_data.h"
#include "sync/signed_content.h"
#include "sync/signed_metadata.h"
#include "sync/trace.h"
#include "sync/transfer_pool.h"
#include "sync/trusted_listing.h"
#include "system/file_ops.h"
#include "system/file_time.h"
#include "system/folder_entries.h"
#include "system/folder_lock.h"
#include "system/path.h"

namespace veldmoor {
namespace {

// libcurl's global state is set up once per process and torn down when the process ends.
void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK) {
            std::atexit(curl_global_cleanup);
        }
    });
}

// Every block of the plan was found at its own offset of the local copy.
bool blocksInPlace(const PreparedFile& prepared) {
    return std::all_of(prepared.plan.pieces.begin(), prepared.plan.pieces.end(),
                       [](const Piece& piece) { return piece.sourceOffset == piece.targetOffset; });
}

bool planNeedsNoBytes(const PreparedFile& prepared) {
    return prepared.hasLocalCopy && !prepared.sizeDiffers && prepared.downloads.empty() &&
           prepared.resumePath.empty();
}

// True when the local copy already is the target, so only its time needs setting. A plan
// without downloads for a file of the same size holds every block, but a block found at
// another offset (blocks moved, or a repeated block taken from its first copy) says nothing
// about the bytes at its own place: the whole file's checksum decides then. With a manifest
// its hash decides, in one read: a copy the index calls current and the manifest does not is
// laid out afresh, and refused when it is sealed.
bool localCopyIsCurrent(const PreparedFile& prepared) {
    if (prepared.knownCurrent) {
        return *prepared.knownCurrent;
    }
    if (!planNeedsNoBytes(prepared)) {
        return false;
    }
    if (prepared.signedContent != nullptr) {
        const std::optional<ContentDigest> found = digestFile(prepared.file.localPath);
        return found && matchesEntry(*found, *prepared.signedContent);
    }
    return blocksInPlace(prepared) ||
           fileCrc32(prepared.file.localPath) == prepared.plan.expectedCrc;
}

// How long a run waits for another update of the same folder to end before it gives up.
constexpr std::chrono::seconds kLockWait{3};

// A document's body (the file list, a signed file), kept as it arrives up to its bound; past
// it the transfer ends.
struct BoundedText : DocumentSink {
    explicit BoundedText(std::size_t limit) : limit(limit) {}
    std::size_t limit;
    std::string text;
    bool tooLarge = false;

    void restart() override { text.clear(); }
    bool append(const char* data, std::size_t size) override {
        if (text.size() + size > limit) {
            tooLarge = true;
            return false;
        }
        text.append(data, size);
        return true;
    }
};

// A chunk index, parsed as it arrives; a document the reader refuses ends the transfer.
struct StreamedIndex : DocumentSink {
    ChunkIndexReader reader;
    bool refused = false;

    void restart() override { reader = ChunkIndexReader(); }
    bool append(const char* data, std::size_t size) override {
        refused = !reader.feed(data, size);
        return !refused;
    }
};

// Where a file not current is on its way, from its chunk index to its place. Every file moves
// forward only, and only in RepoSync::Impl::step, except where the list's order rules: a plan
// is taken (and its file named through onCheck, or its failure told) in list order, and files
// are put in place in list order (Impl::takePlansInOrder, Impl::placeBatch).
//
//   Waiting   its chunk index is not asked for yet (indexes use at most half the handles)
//   Index     its chunk index is on its way
//   Planned   the plan is made (or needed no index); once taken in list order, the rebuild may
//             begin
//   Fetching  the rebuild has begun: local blocks laid out, its range requests on their way
//   Sealed    every byte came and the file passed its checks, or it needs only its time; it
//             waits for its turn holding no descriptor
//   Placed    moved into place, or given its time, in its turn
//   Failed    why is kept and told in the file's turn, after the files before it
//
// A file's first three stages are held by its PendingIndex, the rest by its ActiveRebuild.
enum class FileStage { Waiting, Index, Planned, Fetching, Sealed, Placed, Failed };

// A file found not current, waiting for its chunk index. The index is on its way while the
// files before it are planned.
struct PendingIndex {
    RemoteFile file;
    PathKind kind = PathKind::Missing;
    std::int64_t localSize = -1;
    PathRefusal refusal = PathRefusal::None;
    FileCheckCallback onCheck;
    StreamedIndex streamed;
    std::unique_ptr<DocumentTransfer> transfer;  // null when refused unfetched or planned without
    // Waiting, Index, Planned or Failed. The plan is made as soon as the index has come,
    // whatever the order, and the index let go: a window of large files' indexes would
    // otherwise wait whole for the file at its head.
    FileStage stage = FileStage::Waiting;
    // Examined by content and found to be the target with its listed time: nothing to do.
    bool intact = false;
    // The local copy's content is known to differ from the signed one.
    bool knownDifferent = false;
    bool timeMatches = false;  // the local copy has the listed time
    std::optional<PreparedFile> planned;
    std::exception_ptr failure;  // why no plan could be made, told in the file's turn

    // Nothing more is waited for before the plan can be taken in list order.
    bool indexCame() const { return !transfer || transfer->ended(); }
};

// A file being rebuilt while others are: its requests go out with theirs, but it is put in
// place, and its progress reported, in list order. Once its downloads have all come it is
// sealed (checked, given its time, closed) and waits for its turn holding no descriptor.
struct ActiveRebuild {
    explicit ActiveRebuild(TransferPool& pool) : pool(pool) {}
    ~ActiveRebuild() {
        for (const auto& transfer : transfers) {
            pool.cancel(*transfer);  // before the receivers go
        }
        if (rebuild && stage == FileStage::Fetching) {
            // A stop or a failure: a large file keeps what came for the next run.
            rebuild->keepForResume();
        }
    }
    ActiveRebuild(const ActiveRebuild&) = delete;
    ActiveRebuild& operator=(const ActiveRebuild&) = delete;

    // None of the file's transfers is on its way: each is done or failed, or was ended
    // because another one failed.
    bool transferEnded() const {
        return std::none_of(transfers.begin(), transfers.end(), [](const auto& transfer) {
            return transfer->state() == HttpTransfer::State::Waiting ||
                   transfer->state() == HttpTransfer::State::Running;
        });
    }
    // Once one of the file's transfers has failed the file fails: the others end now.
    void endTransfersIfOneFailed() {
        if (transfers.size() > 1 && failedTransfer() != nullptr) {
            for (const auto& transfer : transfers) {
                if (!transfer->ended()) {
                    pool.cancel(*transfer);
                }
            }
        }
    }
    // The first of the file's transfers that failed; null when none did.
    const RangeTransfer* failedTransfer() const {
        for (const auto& transfer : transfers) {
            if (transfer->state() == HttpTransfer::State::Failed) {
                return transfer.get();
            }
        }
        return nullptr;
    }

    TransferPool& pool;
    const PreparedFile* prepared = nullptr;
    std::uint64_t targetSize = 0;
    bool timeOnly = false;
    // Fetching, Sealed, Placed or Failed. Only a file still fetching keeps what came for the
    // next run when it ends early (a stop, a failure of the run).
    FileStage stage = FileStage::Fetching;
    bool spread = false;         // its downloads were spread over several transfers, or need not be
    std::exception_ptr failure;  // thrown when the file's turn comes
    std::unique_ptr<FileRebuild> rebuild;
    // One per stretch of the file fetched on its own (FileRebuild::spreadDownloads).
    std::vector<std::unique_ptr<RangeTransfer>> transfers;
    // Progress reported while an earlier file is still on its way: the latest only.
    bool reporting = false;
    bool held = false;
    unsigned int heldWritten = 0;
    unsigned int heldTotal = 0;
};

}  // namespace

struct RepoSync::Impl {
    std::string installFolder;
    std::string repoAddress;
    HttpSession session;
    // A deque, so that the rebuilds begun while later files are still planned keep their
    // references.
    std::deque<PreparedFile> prepared;
    std::uint64_t totalDownloadBytes = 0;
    StopRequest stop;
    bool stopped = false;
    std::unique_ptr<FolderLock> lock;
    std::deque<std::unique_ptr<PendingIndex>> pending;
    std::size_t peakIndexBytes = 0;
    // Declared after what its transfers point into, so that it ends them first.
    std::unique_ptr<TransferPool> pool;
    // Rebuilds begun and not yet put in place, in list order; declared after the pool, so
    // that they end their transfers while it is there. `receiving`: those whose downloads
    // are still on their way.
    std::deque<std::unique_ptr<ActiveRebuild>> rebuilds;
    std::vector<ActiveRebuild*> receiving;
    std::uint64_t bytesAhead = 0;  // the target sizes of `rebuilds`
    std::size_t begun = 0;         // prepared files whose rebuild has begun
    ProgressCallback progress;     // patchPreparedFiles's; progress is held until then
    bool fetchWhilePlanning = true;
    // The server's first range answer was seen by advanceRebuilds, which spreads large files.
    bool spreadSeen = false;
    // Folders files were moved into: each is forced to the drive once, when the patching
    // ends, rather than once for every file.
    std::set<std::string> foldersMovedInto;
    // The local paths of the listed files, for finding resume data of files no longer listed.
    std::vector<std::string> listedLocalPaths;
    bool patching = false;
    // The trust checks of a signed repository; null when none is set.
    std::unique_ptr<TrustedListing> trust;
    bool verified = false;  // listFiles verified the manifest
    bool verifyContent = false;

    Impl() = default;
    // A caller that lets go after a stop the engine has seen (between two prepareFile calls,
    // say) keeps what came, as if the stop had ended patchPreparedFiles.
    ~Impl() { endRebuilds(); }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    const ManifestEntry* signedEntryFor(const std::string& repoPath) const {
        return verified ? trust->entryFor(repoPath) : nullptr;
    }

    bool stopRequested() {
        if (!stopped && stop && stop()) {
            stopped = true;
        }
        return stopped;
    }

    void throwIfStopRequested() {
        if (stopRequested()) {
            throw SyncCancelled();
        }
    }

    TransferPool& transfers() {
        if (!pool) {
            pool = std::make_unique<TransferPool>(session);
        }
        return *pool;
    }

    // Files in flight at once, as indexes ahead of the matcher and as rebuilds: enough to keep
    // every connection busy while finished ones wait for their turn, and a fixed number
    // whatever the files' sizes. Each stream a multiplexing server adds beyond the connections
    // adds one file.
    std::size_t window() const {
        const std::size_t connections = session.settings.connections;
        const std::size_t streams = pool ? pool->capacity() : 0;
        return std::max<std::size_t>(
            8, (4 * connections) + (streams > connections ? streams - connections : 0));
    }

    // Drives the transfers until `until` holds; a stop ends the run.
    void runTransfers(const std::function<bool()>& until) {
        if (!transfers().run(until)) {
            stopped = true;
            throw SyncCancelled();
        }
    }

    // GETs documents whose sizes are bounded both on the wire and by their sinks, all at once:
    // the file list and the manifest cost one round trip, not two.
    void fetchTogether(const std::vector<DocumentTransfer*>& documents) {
        for (DocumentTransfer* transfer : documents) {
            transfers().start(*transfer);
        }
        try {
            runTransfers([&] {
                return std::all_of(documents.begin(), documents.end(),
                                   [](const DocumentTransfer* t) { return t->ended(); });
            });
        } catch (...) {
            for (DocumentTransfer* transfer : documents) {
                transfers().cancel(*transfer);
            }
            throw;
        }
    }

    // Fetches the root versions the manifest names beyond the trusted one (all at once),
    // verifies the chain and the manifest, and checks the list against it.
    void verifyListing(const DocumentTransfer& manifestTransfer, const BoundedText& manifestText,
                       const std::vector<RemoteFile>& files) {
        if (manifestTransfer.state() != HttpTransfer::State::Done) {
            throwIfTransferCancelled();
            if (manifestText.tooLarge || manifestTransfer.passedWireLimit()) {
                refuseUnverified(
                    TrustCheck::Malformed, kManifestPath,
                    "The manifest is larger than " + std::to_string(kMaxManifestBytes) + " bytes.");
            }
            throw manifestTransfer.failure();
        }
        const std::vector<std::string> paths = trust->rootPathsToFetch(manifestText.text);
        const auto unreachable = [](const std::string& path, const std::string& reason) {
            return unverified(TrustCheck::ChainBroken, path,
                              "The manifest is signed under a root version that cannot be "
                              "reached: '" +
                                  path + "' cannot be fetched (" + reason + ").");
        };
        std::deque<BoundedText> bodies;
        std::deque<DocumentTransfer> roots;
        std::vector<DocumentTransfer*> started;
        for (const std::string& path : paths) {
            bodies.emplace_back(kMaxRootBytes);
            roots.emplace_back(
                repoAddress + "/" + path, bodies.back(), session,
                [&path, &unreachable](const std::string& reason) {
                    return unreachable(path, reason);
                },
                kMaxRootBytes);
            started.push_back(&roots.back());
        }
        fetchTogether(started);
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (roots[i].state() != HttpTransfer::State::Done) {
                throwIfTransferCancelled();
                if (bodies[i].tooLarge || roots[i].passedWireLimit()) {
                    throw unreachable(paths[i],
                                      "larger than " + std::to_string(kMaxRootBytes) + " bytes");
                }
                throw roots[i].failure();
            }
            texts.push_back(std::move(bodies[i].text));
        }
        trust->verify(manifestText.text, texts, files);
    }

    // One writer per installation: two runs writing one folder would each lay out and move the
    // same files. The lock lasts as long as this RepoSync.
    void lockFolder() {
        if (lock) {
            return;
        }
        if (!IsDirectory(installFolder)) {
            // A fresh installation: its folder is made now so that it can carry the lock.
            const ParentFolders folders = makeParentFolders(installFolder + kPathSeparator + "x");
            if (!folders.ok()) {
                throw pathRefused(installFolder, folders.refusal, folders.systemError);
            }
        }
        Result<std::unique_ptr<FolderLock>> locked =
            FolderLock::Lock(installFolder, kLockWait, [this] { return stopRequested(); });
        throwIfStopRequested();
        if (!locked && locked.Cause() == Fault::HeldElsewhere) {
            throw PatchException(Failure::FolderBusy, installFolder,
                                 "Another update of the folder '" + installFolder +
                                     "' is running; try again once it has ended.");
        }
        if (!locked) {
            throw PatchException(Failure::FolderBusy, installFolder,
                                 "The folder '" + installFolder +
                                     "' cannot be locked for the update: " + locked.Message() +
                                     ".");
        }
        lock = std::move(locked).Value();
    }

    // A failed transfer is a cancellation when the caller asked to stop during it.
    void throwIfTransferCancelled() {
        if (stopped) {
            throw SyncCancelled();
        }
    }

    // The one place files move on whatever the list's order: indexes are asked for (Waiting to
    // Index), plans made as indexes come (Index to Planned or Failed), rebuilds begun (Planned
    // to Fetching), large ones spread, and rebuilds whose bytes have all come sealed (Fetching
    // to Sealed or Failed). It never waits and never runs the transfers: its callers do, and
    // step again when something has ended.
    void step() {
        digestArrived();
        advanceRebuilds();
    }

    // Takes the plans in list order (each file named through onCheck, or its failure thrown,
    // in its turn); with `all`, waits for every index, otherwise only until no more than a
    // window of files is in flight.
    void takePlansInOrder(bool all) {
        bool took = false;
        bool waitingForHead = false;  // once waited for, the head is waited for until it came
        while (!pending.empty()) {
            step();
            PendingIndex& head = *pending.front();
            if (!head.indexCame()) {
                if (!all && !waitingForHead && pending.size() <= window()) {
                    return;
                }
                waitingForHead = true;
                const std::size_t ended = transfers().endedCount();
                runTransfers(
                    [&] { return head.transfer->ended() || transfers().endedCount() != ended; });
                continue;
            }
            const std::unique_ptr<PendingIndex> next = std::move(pending.front());
            pending.pop_front();
            took = true;
            waitingForHead = false;
            planFile(*next);
        }
        if (took) {
            step();  // the last file taken begins its rebuild
        }
    }

    // New files' room claimed ahead of the file being put in place: files done before their
    // turn wait beside the old ones, and a slow file at the head must not make them pile up
    // without end, on the drive or in memory.
    static constexpr std::uint64_t kBytesAhead = 512ULL * 1024 * 1024;
    static constexpr std::size_t kFilesAhead = 8192;

    // Seals the rebuilds whose downloads have all come, and begins those of planned files while
    // fewer than a window of them are receiving. It runs while later files are still being
    // planned, so that the first files' ranges flow while later indexes are on their way;
    // nothing is put in place, and no progress told, before patchPreparedFiles.
    void advanceRebuilds() {
        if (!patching && !fetchWhilePlanning) {
            return;
        }
        spreadSeen = session.rangesAnswered();
        std::erase_if(receiving, [this](ActiveRebuild* active) {
            active->endTransfersIfOneFailed();
            if (!active->transferEnded()) {
                spreadIfLarge(*active);
                return false;
            }
            sealIfComplete(*active);
            return true;
        });
        while (begun < prepared.size() && receiving.size() < window() &&
               (rebuilds.empty() || (rebuilds.size() < kFilesAhead &&
                                     bytesAhead + targetSizeOf(prepared[begun]) <= kBytesAhead))) {
            rebuilds.push_back(beginRebuild(prepared[begun++]));
            ActiveRebuild& active = *rebuilds.back();
            bytesAhead += active.targetSize;
            if (active.transferEnded()) {
                sealIfComplete(active);
            } else {
                receiving.push_back(&active);
            }
        }
    }

    // A failure or a stop ends the run: the rebuilds begun are ended at once, not when the
    // caller lets go of this object.
    template <typename Work>
    auto abandoningRebuildsOnFailure(Work&& work) {
        try {
            return work();
        } catch (...) {
            endRebuilds();
            throw;
        }
    }

    // Ends the rebuilds begun and not yet put in place: their transfers are cancelled, their
    // temporary files removed, and what came of a large file is kept for resuming
    // (~ActiveRebuild). On a stop (the launcher closed, the player paused or stopped) a file
    // whose bytes have all come and passed its checks is put in place rather than thrown
    // away, out of its turn: it is whole and checked like any other, and the next run need not
    // fetch it again. After a failure the files wait for no turn that will come, and go.
    void endRebuilds() noexcept {
        if (stopped) {
            std::vector<ActiveRebuild*> whole;
            std::vector<FileRebuild*> batch;
            for (const auto& active : rebuilds) {
                if (active->stage == FileStage::Sealed && active->rebuild) {
                    whole.push_back(active.get());
                    batch.push_back(active->rebuild.get());
                }
            }
            try {
                FileRebuild::forceTogether(batch);  // one flush for them all, as in placeBatch
            } catch (...) {
                // Each file not forced here is forced by its own move.
            }
            for (ActiveRebuild* active : whole) {
                try {
                    active->rebuild->finish(MoveSync::Later);
                    active->stage = FileStage::Placed;
                    foldersMovedInto.insert(DirectoryOf(active->prepared->file.localPath));
                } catch (...) {
                    // The old file stays; the next run fetches this one again.
                }
            }
        }
        receiving.clear();
        rebuilds.clear();
        bytesAhead = 0;
        syncFoldersMovedInto();
    }

    static std::uint64_t targetSizeOf(const PreparedFile& file) {
        const std::vector<Piece>& pieces = file.plan.pieces;
        return pieces.empty() ? 0
                              : std::uint64_t{pieces.back().targetOffset} + pieces.back().length;
    }

    // A file with more changed pieces than one request asks for is fetched over several
    // connections at once, once the server has shown that it answers ranges: otherwise its
    // requests would go one after another, a round trip each, however many connections idle.
    void spreadIfLarge(ActiveRebuild& active) {
        if (active.spread || !session.rangesAnswered() || active.transfers.empty()) {
            return;
        }
        active.spread = true;
        const std::size_t parts = transfers().capacity();
        for (RangeReceiver* receiver :
             active.rebuild->spreadDownloads(parts, session.rangesPerRequest())) {
            active.transfers.push_back(std::make_unique<RangeTransfer>(
                repoAddress + "/" + transferPathOf(active.prepared->file.repoPath), *receiver,
                session));
            transfers().start(*active.transfers.back());
        }
    }

    // A rebuild whose downloads all came is checked and closed now; a failed one waits for its
    // turn, which tells the failure and keeps what came for the next run.
    static void sealIfComplete(ActiveRebuild& active) {
        if (active.stage != FileStage::Fetching || active.timeOnly || !active.rebuild ||
            std::any_of(active.transfers.begin(), active.transfers.end(),
                        [](const auto& t) { return t->state() != HttpTransfer::State::Done; })) {
            return;
        }
        // Every byte came: nothing to resume, whatever the check finds.
        active.stage = FileStage::Sealed;
        active.transfers.clear();
        try {
            active.rebuild->seal(CloseSync::Together);  // forced with its batch (placeBatch)
        } catch (const PatchException&) {
            active.stage = FileStage::Failed;
            active.failure = std::current_exception();
        }
    }

    void planFile(PendingIndex& entry) {
        const RemoteFile& file = entry.file;
        const std::string& path = file.repoPath;
        trace("--------------->%s(%u):\n", path, file.time);
        digest(entry);
        if (entry.intact) {
            return;  // examined by content and found whole, with its time
        }
        if (entry.onCheck) {
            entry.onCheck(path);
        }
        // Refused before anything is fetched: the rebuild and the time setting would otherwise
        // reach outside the installation folder.
        if (entry.refusal != PathRefusal::None) {
            throw pathRefused(path, entry.refusal);
        }
        if (entry.kind == PathKind::Folder) {
            throw PatchException(Failure::FolderInPlaceOfFile, path,
                                 "A folder is where the listed file '" + path + "' belongs.");
        }
        digest(entry);
        if (entry.failure) {
            std::rethrow_exception(entry.failure);
        }
        PreparedFile planned = std::move(*entry.planned);
        for (const Piece& piece : planned.plan.pieces) {
            if (piece.kind == kPieceDownload) {
                planned.downloads.push_back(piece);
                totalDownloadBytes += piece.length;
            }
        }
        prepared.push_back(std::move(planned));
    }

    // Indexes go out in list order, ahead of the ranges already asked for, but on no more than
    // half the handles: the ranges of planned files keep the link full, while the indexes the
    // next ranges wait for are never stuck behind them.
    void startIndexes() {
        const std::size_t limit = std::max<std::size_t>(1, transfers().capacity() / 2);
        std::size_t onTheWay = 0;
        for (const auto& entry : pending) {
            if (!entry->transfer) {
                continue;
            }
            if (entry->stage == FileStage::Waiting) {
                if (onTheWay >= limit) {
                    return;
                }
                entry->stage = FileStage::Index;
                transfers().startAhead(*entry->transfer);
            }
            onTheWay += entry->transfer->ended() ? 0 : 1;
        }
    }

    void digestArrived() {
        startIndexes();
        std::size_t held = 0;
        for (const auto& entry : pending) {
            held += entry->streamed.reader.index().entries.capacity() * sizeof(Piece);
        }
        peakIndexBytes = std::max(peakIndexBytes, held);
        for (const auto& entry : pending) {
            digest(*entry);
        }
    }

    // Makes the plan of a file whose index has come, or keeps why it cannot be made.
    void digest(PendingIndex& entry) {
        if (entry.stage != FileStage::Index || !entry.transfer->ended()) {
            return;
        }
        try {
            entry.planned = planFromIndex(entry);
            entry.stage = FileStage::Planned;
        } catch (...) {
            entry.stage = FileStage::Failed;
            entry.failure = std::current_exception();
        }
    }

    PreparedFile planFromIndex(PendingIndex& entry) {
        const RemoteFile& file = entry.file;
        const std::string& path = file.repoPath;
        DocumentTransfer& transfer = *entry.transfer;
        const bool tooLarge = transfer.passedWireLimit();
        if (transfer.state() != HttpTransfer::State::Done && !transfer.refused()) {
            throwIfTransferCancelled();
            throw transfer.failure();
        }
        ChunkIndexReader& reader = entry.streamed.reader;
        if (tooLarge || !reader.finish()) {
            const std::string why =
                tooLarge ? "it is larger than " + std::to_string(kMaxChunkIndexBytes) + " bytes"
                         : reader.problem();
            throw PatchException(Failure::ServerDataInvalid, path,
                                 "Chunk file for '" + path + "' is invalid: " + why + ".");
        }
        ChunkIndex index = std::move(reader.index());

        const bool hasLocalCopy = entry.kind == PathKind::File;
        PreparedFile planned;
        planned.file = file;
        planned.hasLocalCopy = hasLocalCopy;
        // A missing local copy differs from any target, an empty one included: otherwise an
        // empty file would never be created and would be examined again on every run.
        planned.sizeDiffers = entry.localSize != static_cast<std::int64_t>(index.targetSize);
        planned.signedContent = signedEntryFor(path);
        if (planned.signedContent != nullptr && planned.signedContent->size != index.targetSize) {
            // Refused before a byte is fetched: no file built from this index can be signed.
            refuseUnverified(TrustCheck::ContentMismatch, path,
                             "The chunk index of '" + path + "' describes " +
                                 std::to_string(index.targetSize) +
                                 " bytes, where the manifest signs " +
                                 std::to_string(planned.signedContent->size) + ".");
        }
        planned.plan = buildBlockPlan(hasLocalCopy ? file.localPath : std::string(), index.entries,
                                      index.targetCrc);
        planGaps(planned.plan, index.targetSize);
        useResumeData(planned, index);
        if (entry.knownDifferent) {
            planned.knownCurrent = false;
        } else if (verifyContent && planned.signedContent == nullptr) {
            // Verified by the chunk index alone: every block at its own offset and the whole
            // file's CRC-32, neither enough without the other.
            planned.knownCurrent = planNeedsNoBytes(planned) && blocksInPlace(planned) &&
                                   fileCrc32(file.localPath) == index.targetCrc;
            entry.intact = *planned.knownCurrent && entry.timeMatches;
        }
        return planned;
    }

    // A signed file whose local copy holds the signed content and only lacks its time.
    static PreparedFile timeOnlyPlan(const RemoteFile& file, const ManifestEntry& signedEntry) {
        PreparedFile planned;
        planned.file = file;
        planned.hasLocalCopy = true;
        planned.signedContent = &signedEntry;
        planned.knownCurrent = true;
        if (signedEntry.size > 0) {
            Piece whole;
            whole.length = static_cast<std::uint32_t>(signedEntry.size);
            planned.plan.pieces.push_back(whole);
        }
        return planned;
    }

    // A signed file with no local copy, fetched whole and checked by its signed content.
    static PreparedFile wholeFilePlan(const RemoteFile& file, const ManifestEntry& signedEntry) {
        PreparedFile planned;
        planned.file = file;
        planned.sizeDiffers = true;
        planned.signedContent = &signedEntry;
        planned.wholeFile = true;
        planGaps(planned.plan, static_cast<std::uint32_t>(signedEntry.size));
        return planned;
    }

    // What a broken transfer of this version left is taken as a second local copy; resume data
    // of another version, or that cannot be read, is removed.
    static void useResumeData(PreparedFile& planned, const ChunkIndex& index) {
        const std::string path = resumePathOf(planned.file.localPath);
        const PathKind kind = KindOf(path);
        if (kind == PathKind::Missing || kind == PathKind::Folder) {
            return;
        }
        const std::optional<ResumeRecord> record =
            kind == PathKind::File ? readResumeRecord(path) : std::nullopt;
        // A file fetched whole names its version by its signed hash (resumeTagOf).
        const bool sameVersion = record && (record->crc == index.targetCrc ||
                                            (planned.signedContent != nullptr &&
                                             record->crc == resumeTagOf(*planned.signedContent)));
        if (!sameVersion || record->time != planned.file.time || record->size != index.targetSize) {
            RemoveFile(path);
            return;
        }
        // Each block is checked against the index: a stretch damaged on the drive is fetched
        // again, rather than failing the file's check and losing everything kept.
        takeFromResume(planned.plan, checkedHeld(path, record->held, index.entries));
        planned.resumePath = path;
    }

    // Begins the rebuild of one file: lays out its local blocks and sends its range requests.
    // A failure waits for the file's turn, so that the files before it are put in place first,
    // as they would be one after another.
    std::unique_ptr<ActiveRebuild> beginRebuild(const PreparedFile& file) {
        auto active = std::make_unique<ActiveRebuild>(transfers());
        active->prepared = &file;
        active->targetSize = targetSizeOf(file);
        if (localCopyIsCurrent(file)) {
            active->timeOnly = true;
            active->stage = FileStage::Sealed;  // nothing to fetch: it waits for its turn
            return active;
        }
        ActiveRebuild* self = active.get();
        const ProgressCallback held = [self, this](const std::string& path, unsigned int written,
                                                   unsigned int total) {
            if (self->reporting) {
                if (progress) {
                    progress(path, written, total);
                }
                return;
            }
            self->held = true;
            self->heldWritten = written;
            self->heldTotal = total;
        };
        try {
            active->rebuild =
                std::make_unique<FileRebuild>(file, held, [this] { return stopRequested(); });
        } catch (const PatchException&) {
            active->stage = FileStage::Failed;
            active->failure = std::current_exception();
            return active;
        }
        if (RangeReceiver* receiver = active->rebuild->receiver(); receiver != nullptr) {
            active->transfers.push_back(std::make_unique<RangeTransfer>(
                repoAddress + "/" + transferPathOf(file.file.repoPath), *receiver, session));
            transfers().start(*active->transfers.back());
        }
        return active;
    }

    // The file's turn: what was held back of its progress is told, and it is put in place.
    void completeRebuild(ActiveRebuild& active) {
        const PreparedFile& file = *active.prepared;
        if (active.stage == FileStage::Failed) {
            std::rethrow_exception(active.failure);
        }
        if (active.timeOnly) {
            // Never through a link: the local copy was a regular file when it was examined.
            SetLastWriteTimeOfEntry(file.file.localPath, file.file.time);
            active.stage = FileStage::Placed;
            return;
        }
        if (const RangeTransfer* failed = active.failedTransfer(); failed != nullptr) {
            active.rebuild->failTransfer(failed->failure());  // keeps what came
        }
        // Whatever the check finds, the bytes are not kept: a file that fails its checksum
        // must not be resumed from them. It counts as failed until its move has succeeded.
        active.stage = FileStage::Failed;
        foldersMovedInto.insert(DirectoryOf(file.file.localPath));
        active.rebuild->finish(MoveSync::Later);
        active.stage = FileStage::Placed;
    }

    // What a broken transfer kept of a file that the list no longer holds would stay on the
    // drive for good: it is removed from the folders of the listed files. Only what reads as
    // resume data goes, never a file of the player's or a listed one that merely ends alike.
    void removeResumeDataOfUnlistedFiles() {
        const std::string suffix = resumePathOf("");
        const std::unordered_set<std::string> listed(listedLocalPaths.begin(),
                                                     listedLocalPaths.end());
        std::set<std::string> folders;
        for (const std::string& path : listedLocalPaths) {
            folders.insert(DirectoryOf(path));
        }
        for (const std::string& folder : folders) {
            for (const std::string& name : FolderEntryNames(folder)) {
                if (name.size() <= suffix.size() || !name.ends_with(suffix)) {
                    continue;
                }
                std::string path = folder;
                path += kPathSeparator;
                path += name;
                const std::string owner = path.substr(0, path.size() - suffix.size());
                if (listed.count(path) == 0 && listed.count(owner) == 0 &&
                    KindOf(path) == PathKind::File && readResumeRecord(path)) {
                    RemoveFile(path);
                }
            }
        }
        listedLocalPaths.clear();
    }

    void syncFoldersMovedInto() {
        for (const std::string& folder : foldersMovedInto) {
            SyncMovesInFolder(folder);
        }
        foldersMovedInto.clear();
    }

    void startReporting(ActiveRebuild& active) const {
        active.reporting = true;
        if (active.held && progress) {
            progress(active.prepared->file.repoPath, active.heldWritten, active.heldTotal);
        }
    }

    // Files whose turn has come are put in place in batches: their bytes forced to the drive
    // together (one flush of the drive for the batch, not one a file), then moved one after
    // another in list order. A batch waits for the files behind it that are still on their way
    // up to these bounds, so that a tree of small files costs a few flushes.
    static constexpr std::size_t kBatchFiles = 256;
    static constexpr std::uint64_t kBatchBytes = 64ULL << 20;

    // How many rebuilds at the head can take their turn now (nothing of them is on its way), up
    // to and including the first that fails; `due` when they should rather than wait for more.
    std::size_t readyAtHead(bool& due) const {
        std::size_t ready = 0;
        std::uint64_t bytes = 0;
        due = false;
        for (const auto& active : rebuilds) {
            if (!active->transferEnded()) {
                // A large file on its way is not waited for: the files before it go now.
                due = ready > 0 && bytes + active->targetSize >= kBatchBytes;
                return ready;
            }
            ++ready;
            bytes += active->targetSize;
            if (active->stage == FileStage::Failed || active->failedTransfer() != nullptr ||
                ready >= kBatchFiles || bytes >= kBatchBytes) {
                due = true;  // a failure is told in its turn, after the files before it
                return ready;
            }
        }
        // Nothing behind them has begun: the run is ending, or waits for room to begin more.
        due = true;
        return ready;
    }

    void placeBatch(std::size_t count) {
        std::vector<FileRebuild*> batch;
        for (std::size_t i = 0; i < count; ++i) {
            if (rebuilds[i]->stage == FileStage::Sealed && rebuilds[i]->rebuild) {
                batch.push_back(rebuilds[i]->rebuild.get());
            }
        }
        FileRebuild::forceTogether(batch);
        for (std::size_t i = 0; i < count; ++i) {
            ActiveRebuild& head = *rebuilds.front();
            if (!head.reporting) {
                startReporting(head);
            }
            completeRebuild(head);
            bytesAhead -= head.targetSize;
            rebuilds.pop_front();
        }
    }

    void rebuildAll() {
        while (begun < prepared.size() || !rebuilds.empty()) {
            throwIfStopRequested();
            step();
            bool due = false;
            const std::size_t ready = readyAtHead(due);
            if (due) {
                placeBatch(ready);
                continue;
            }
            // The files waiting for their batch are complete: progress goes on with the first
            // file still on its way, in list order.
            for (std::size_t i = 0; i <= ready; ++i) {
                if (!rebuilds[i]->reporting) {
                    startReporting(*rebuilds[i]);
                }
            }
            ActiveRebuild& next = *rebuilds[ready];
            const std::size_t endedBefore = transfers().endedCount();
            runTransfers([&] {
                return next.transferEnded() || transfers().endedCount() != endedBefore ||
                       session.rangesAnswered() != spreadSeen;
            });
        }
    }
};

RepoSync::RepoSync(std::string installFolder, std::string repoAddress)
    : impl_(std::make_unique<Impl>()) {
    impl_->installFolder = std::move(installFolder);
    impl_->repoAddress = std::move(repoAddress);
    initCurlOnce();
    impl_->session.settings = HttpSettings::fromEnvironment();
    impl_->session.stopped = [impl = impl_.get()] { return impl->stopRequested(); };
}

RepoSync::~RepoSync() = default;

std::vector<RemoteFile> RepoSync::listFiles() {
    impl_->throwIfStopRequested();
    impl_->lockFolder();
    impl_->verified = false;
    if (impl_->trust) {
        impl_->trust->loadState();
    }
    BoundedText body(kMaxFileListBytes);
    const std::string url = impl_->repoAddress + "/" + kFileListPath;
    DocumentTransfer list(
        url, body, impl_->session,
        [&url](const std::string& reason) {
            return PatchException(
                Failure::FileListNotFetched, "",
                "Http request failed while getting files! " + reason + " (" + url + ")");
        },
        kMaxFileListBytes);
    BoundedText manifestText(kMaxManifestBytes);
    const std::string manifestUrl = impl_->repoAddress + "/" + kManifestPath;
    DocumentTransfer manifest(
        manifestUrl, manifestText, impl_->session,
        [&manifestUrl](const std::string& reason) {
            return unverified(TrustCheck::ManifestMissing, kManifestPath,
                              "A root of trust is set for this repository, but its manifest '" +
                                  manifestUrl + "' cannot be fetched (" + reason +
                                  "); an unsigned repository is not used in its place.");
        },
        kMaxManifestBytes);
    std::vector<DocumentTransfer*> documents{&list};
    if (impl_->trust) {
        documents.push_back(&manifest);
    }
    impl_->fetchTogether(documents);
    if (list.state() != HttpTransfer::State::Done) {
        impl_->throwIfTransferCancelled();
        if (body.tooLarge || list.passedWireLimit()) {
            throw PatchException(
                Failure::ServerDataInvalid, kFileListPath,
                "The file list is larger than " + std::to_string(kMaxFileListBytes) + " bytes.");
        }
        throw list.failure();
    }
    std::vector<RemoteFile> files = parseFileList(body.text, impl_->installFolder);
    const std::string problem = fileListProblem(files);
    if (!problem.empty()) {
        throw PatchException(Failure::ServerDataInvalid, kFileListPath,
                             "The file list cannot be used: " + problem + ".");
    }
    if (impl_->trust) {
        impl_->verifyListing(manifest, manifestText, files);
        impl_->verified = true;
    }
    impl_->listedLocalPaths.clear();
    for (const RemoteFile& file : files) {
        impl_->listedLocalPaths.push_back(file.localPath);
    }
    return files;
}

void RepoSync::prepareFile(const RemoteFile& file, const FileCheckCallback& onCheck) {
    impl_->throwIfStopRequested();
    impl_->lockFolder();
    // Only a regular file is a local copy: a link there is replaced by the rebuilt file, never
    // followed, neither to read its time nor its bytes.
    const PathKind kind = KindOf(file.localPath);
    const bool timeMatches = kind == PathKind::File && LastWriteTime(file.localPath) == file.time;
    const ManifestEntry* signedEntry = impl_->signedEntryFor(file.repoPath);
    auto entry = std::make_unique<PendingIndex>();
    entry->refusal = repoPathRefusal(file.repoPath);
    if (impl_->verifyContent && kind == PathKind::File && signedEntry != nullptr &&
        entry->refusal == PathRefusal::None) {
        // Examined by its signed hash at the drive's speed: only a copy that differs needs its
        // chunk index, to heal through the delta path.
        const std::optional<ContentDigest> found = digestFile(file.localPath);
        entry->knownDifferent = !found || !matchesEntry(*found, *signedEntry);
        if (!entry->knownDifferent && !timeMatches && signedEntry->size <= UINT32_MAX) {
            entry->planned = Impl::timeOnlyPlan(file, *signedEntry);
        }
    }
    if (timeMatches &&
        (!impl_->verifyContent || (signedEntry != nullptr && !entry->knownDifferent))) {
        // A run that was ended abruptly (killed, or the machine lost power) after this file
        // was done may have left the temporary file of an earlier attempt; the folder is
        // locked, so it is no one's. One unlink, which mostly finds nothing.
        RemoveFile(temporaryPathOf(file.localPath));
        RemoveFile(resumePathOf(file.localPath));
        return;
    }
    entry->file = file;
    entry->kind = kind;
    entry->localSize = kind == PathKind::File ? FileSize(file.localPath) : -1;
    entry->onCheck = onCheck;
    entry->timeMatches = timeMatches;
    if (!entry->planned && entry->refusal == PathRefusal::None && kind == PathKind::Missing &&
        signedEntry != nullptr && signedEntry->size <= UINT32_MAX &&
        KindOf(resumePathOf(file.localPath)) == PathKind::Missing) {
        // Nothing to match and the content known: the file is fetched whole at once, without
        // the round trip for its chunk index.
        entry->planned = Impl::wholeFilePlan(file, *signedEntry);
    }
    if (!entry->planned && entry->refusal == PathRefusal::None && kind != PathKind::Folder) {
        // The index is parsed as it arrives and never held as a document: a bound passed ends
        // the transfer at once, whatever the server would still send.
        entry->transfer = std::make_unique<DocumentTransfer>(
            impl_->repoAddress + "/" + chunkIndexPathOf(file.repoPath), entry->streamed,
            impl_->session,
            [&path = entry->file.repoPath](const std::string& reason) {
                return PatchException(
                    Failure::ChunkIndexNotFetched, path,
                    "Connection failed while getting chunks for '" + path + "'. " + reason);
            },
            kMaxChunkIndexBytes);
    }
    if (entry->planned) {
        entry->stage = FileStage::Planned;
    } else if (!entry->transfer) {
        entry->stage = FileStage::Failed;  // refused before anything is fetched: told in its turn
    }
    impl_->pending.push_back(std::move(entry));
    impl_->startIndexes();
    impl_->abandoningRebuildsOnFailure([this] {
        impl_->runTransfers([] { return true; });  // sends the request without waiting for it
        impl_->takePlansInOrder(false);
    });
}

std::uint64_t RepoSync::totalDownloadBytes() {
    impl_->abandoningRebuildsOnFailure([this] { impl_->takePlansInOrder(true); });
    return impl_->totalDownloadBytes;
}

std::vector<std::uint64_t> RepoSync::plannedDownloadBytes() {
    impl_->abandoningRebuildsOnFailure([this] { impl_->takePlansInOrder(true); });
    std::vector<std::uint64_t> bytes;
    bytes.reserve(impl_->prepared.size());
    for (const PreparedFile& file : impl_->prepared) {
        std::uint64_t sum = 0;
        for (const Piece& piece : file.downloads) {
            sum += piece.length;
        }
        bytes.push_back(sum);
    }
    return bytes;
}

void RepoSync::patchPreparedFiles(const ProgressCallback& progress) {
    impl_->lockFolder();
    impl_->progress = progress;
    impl_->patching = true;
    impl_->removeResumeDataOfUnlistedFiles();
    try {
        impl_->abandoningRebuildsOnFailure([this] {
            impl_->takePlansInOrder(true);
            impl_->rebuildAll();
        });
    } catch (const PatchException&) {
        impl_->syncFoldersMovedInto();
        if (impl_->stopped) {
            throw SyncCancelled();  // the old file is untouched
        }
        throw;
    } catch (...) {
        impl_->syncFoldersMovedInto();
        throw;
    }
    impl_->syncFoldersMovedInto();
    if (impl_->verified) {
        // Only now: a client that remembered a version before every check of the run passed
        // could be held at it, or rolled back from it, by whoever made a later check fail.
        impl_->trust->storeState();
    }
}

void RepoSync::setFetchWhilePlanning(bool fetch) {
    impl_->fetchWhilePlanning = fetch;
}

void RepoSync::setTrust(Trust trust) {
    impl_->trust = std::make_unique<TrustedListing>(std::move(trust), impl_->repoAddress);
}

const Manifest* RepoSync::verifiedManifest() const {
    return impl_->verified ? &impl_->trust->manifest() : nullptr;
}

void RepoSync::setVerifyContent(bool verify) {
    impl_->verifyContent = verify;
}

void RepoSync::setStopRequest(StopRequest stop) {
    impl_->stop = std::move(stop);
}

std::size_t RepoSync::peakIndexBytesHeld() const {
    return impl_->peakIndexBytes;
}

std::size_t RepoSync::peakRequestsInFlight() const {
    return impl_->pool ? impl_->pool->peakInFlight() : 0;
}

void RepoSync::setHttpSettings(const HttpSettings& settings) {
    impl_->session.settings = settings;
    // The pool takes its number of connections from the settings when it is made.
    if (impl_->pending.empty() && impl_->rebuilds.empty()) {
        impl_->pool.reset();
    }
}

}  // namespace veldmoor
