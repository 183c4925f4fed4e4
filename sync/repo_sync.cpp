#include "sync/repo_sync.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "sync/file_in_flight.h"
#include "sync/file_list.h"
#include "sync/file_placing.h"
#include "sync/file_planning.h"
#include "sync/file_sums_fetch.h"
#include "sync/http_transfer.h"
#include "sync/patch_exception.h"
#include "sync/patch_file.h"
#include "sync/prepared_file.h"
#include "sync/repo_listing.h"
#include "sync/repository_layout.h"
#include "sync/resume_data.h"
#include "sync/signed_content.h"
#include "sync/signed_metadata.h"
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

// How long a run waits for another update of the same folder to end before it gives up.
constexpr std::chrono::seconds kLockWait{3};

// Plans holding a temporary file laid out while the local copy was scanned, at most.
constexpr std::size_t kMostEarlyLayouts = 2;

// Where the run is. Planning: listFiles and prepareFile (rebuilds begin as plans are taken,
// unless the caller only plans); Patching: from patchPreparedFiles on, files are put in place.
// Stopped is final: once the caller's stop was seen, nothing moves on, every call ends in
// SyncCancelled, and the files sealed are put in place as the rebuilds end.
enum class RunPhase { Planning, Patching, Stopped };

using FileQueue = std::deque<std::unique_ptr<FileInFlight>>;

}  // namespace

struct RepoSync::Impl {
    std::string installFolder;
    std::string repoAddress;
    HttpSession session;
    RunPhase phase = RunPhase::Planning;
    StopRequest stop;
    // The caller's stop, polled by the rebuilds while they lay out local blocks.
    StopRequest stopPoll = [this] { return stopRequested(); };
    std::unique_ptr<FolderLock> lock;
    // The trust checks of a signed repository; null when none is set.
    std::unique_ptr<TrustedListing> trust;
    bool verified = false;  // listFiles verified the manifest
    // Settings the caller gives before the first prepareFile.
    bool fetchWhilePlanning = true;
    bool verifyContent = false;
    // The local paths of the listed files, for finding resume data of files no longer listed.
    std::vector<std::string> listedLocalPaths;
    // The listed paths and times, which the file list's sums are read against.
    std::unordered_map<std::string, std::int64_t> listedTimes;
    // Files with no local copy seen so far; past a few, the file list's sums are asked for.
    std::size_t freshFiles = 0;
    // Files that hold their index requests back until the sums have come.
    std::size_t heldForSums = 0;

    // Every file not current is in one of these queues, in list order, and moves from one to
    // the next: `pending` until its plan is taken, `taken` until its rebuild begins, `placing`
    // until it is in place. `pending` is declared before the pool, so that the pool ends the
    // index transfers first; `placing` after it, so that its files end their transfers while
    // it is there.
    FileQueue pending;
    FileQueue taken;
    // Declared before the pool, like `pending`, so that the pool ends its transfer first.
    std::unique_ptr<FileSumsFetch> sums;
    std::unique_ptr<TransferPool> pool;
    PlacingQueue placing;
    std::vector<FileInFlight*> receiving;  // the files of `placing` still Fetching

    std::uint64_t totalDownloadBytes = 0;
    std::vector<std::uint64_t> downloadBytesByFile;  // of each file taken, in list order
    std::size_t peakIndexBytes = 0;
    ProgressCallback progress;  // patchPreparedFiles's; progress is held until then
    // The server's first range answer was seen by advanceRebuilds, which spreads large files.
    bool spreadSeen = false;

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
        if (phase != RunPhase::Stopped && stop && stop()) {
            phase = RunPhase::Stopped;
        }
        return phase == RunPhase::Stopped;
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

    RebuildContext rebuildContext() {
        return {transfers(), session, repoAddress, progress, stopPoll};
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
            phase = RunPhase::Stopped;
            throw SyncCancelled();
        }
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

    // The one place files move on whatever the list's order: indexes are asked for (Waiting to
    // Index), plans made as indexes come (Index to Planned, Placed or Failed), rebuilds begun
    // (Planned to Fetching, Sealed or Failed), large ones spread, and rebuilds whose bytes have
    // all come sealed (Fetching to Sealed or Failed). It never waits and never runs the
    // transfers: its callers do, and step again when something has ended. Two moves keep the
    // list's order and happen apart from it: takePlansInOrder and PlacingQueue::placeBatch.
    void step() {
        takeSums();
        startIndexes();
        std::size_t held = 0;
        for (const auto& file : pending) {
            held += file->indexBytesHeld();
        }
        peakIndexBytes = std::max(peakIndexBytes, held);
        // Files laid out while scanned hold their temporary files (and the room on the drive)
        // until their rebuilds: planning far ahead of them, only a few may, and a run that only
        // plans writes nothing.
        std::size_t early = 0;
        for (const auto& file : pending) {
            early += file->holdsEarlyLayout() ? 1 : 0;
        }
        for (const auto& file : taken) {
            early += file->holdsEarlyLayout() ? 1 : 0;
        }
        for (const auto& file : pending) {
            if (file->indexCame()) {
                file->makePlan(signedEntryFor(file->file().repoPath), verifyContent,
                               phase == RunPhase::Stopped,
                               fetchWhilePlanning && early < kMostEarlyLayouts);
                early += file->holdsEarlyLayout() ? 1 : 0;
            }
        }
        advanceRebuilds();
    }

    // Indexes go out in list order, ahead of the ranges already asked for, but on no more than
    // half the handles: the ranges of planned files keep the link full, while the indexes the
    // next ranges wait for are never stuck behind them.
    void startIndexes() {
        const std::size_t limit = std::max<std::size_t>(1, transfers().capacity() / 2);
        std::size_t onTheWay = 0;
        for (const auto& file : pending) {
            if (file->stage() == FileStage::Waiting && !file->indexHeld()) {
                if (onTheWay >= limit) {
                    return;
                }
                file->askForIndex(transfers());
            }
            onTheWay += file->indexOnItsWay() ? 1 : 0;
        }
    }

    // A file with no local copy and no resume data needs its chunk index only for the size and
    // CRC-32 of the file: once more than a few such files were seen, the file list's sums are
    // asked for, and while they are on their way such files hold their index requests back.
    void planFromSums(FileInFlight& file) {
        if (!sums && ++freshFiles > FileSumsFetch::kFreshFilesBeforeSums) {
            sums = std::make_unique<FileSumsFetch>(repoAddress, session, listedTimes, transfers());
        }
        if (!sums) {
            return;
        }
        if (sums->onItsWay()) {
            file.holdIndex(true);
            ++heldForSums;
            return;
        }
        file.holdIndex(false);
        const FileSum* sum = sums->usable() ? sums->sumFor(file.file().repoPath) : nullptr;
        if (sum != nullptr) {
            file.planWithoutIndex(summedFilePlan(file.file(), *sum));
        }
    }

    // Once the sums have come (or failed to), the files that held their indexes for them are
    // planned from them or ask for their indexes.
    void takeSums() {
        if (heldForSums == 0 || sums->onItsWay()) {
            return;
        }
        heldForSums = 0;
        for (const auto& file : pending) {
            if (file->indexHeld()) {
                planFromSums(*file);
            }
        }
    }

    // Seals the rebuilds whose downloads have all come, and begins those of the files taken
    // while fewer than a window of them are receiving. It runs while later files are still
    // being planned, so that the first files' ranges flow while later indexes are on their
    // way; nothing is put in place, and no progress told, before patchPreparedFiles.
    void advanceRebuilds() {
        if (phase == RunPhase::Stopped || (phase == RunPhase::Planning && !fetchWhilePlanning)) {
            return;
        }
        spreadSeen = session.rangesAnswered();
        const RebuildContext run = rebuildContext();
        std::erase_if(receiving, [&run](FileInFlight* file) {
            file->keepFetching(run);
            if (!file->transferEnded()) {
                return false;
            }
            file->sealIfComplete();
            return true;
        });
        while (!taken.empty() && receiving.size() < window() &&
               placing.hasRoomFor(taken.front()->targetSize())) {
            FileInFlight& file = placing.add(std::move(taken.front()));
            taken.pop_front();
            file.beginRebuild(run);
            if (file.transferEnded()) {
                file.sealIfComplete();
            } else {
                receiving.push_back(&file);
            }
        }
    }

    // Takes the plans in list order (each file named through onCheck, or its failure thrown,
    // in its turn); with `all`, waits for every index, otherwise only until no more than a
    // window of files is in flight.
    void takePlansInOrder(bool all) {
        bool took = false;
        bool waitingForHead = false;  // once waited for, the head is waited for until it came
        while (!pending.empty()) {
            step();
            FileInFlight& head = *pending.front();
            if (!head.planDecided()) {
                if (!all && !waitingForHead && pending.size() <= window()) {
                    return;
                }
                waitingForHead = true;
                const std::size_t ended = transfers().endedCount();
                runTransfers(
                    [&] { return head.indexEnded() || transfers().endedCount() != ended; });
                continue;
            }
            std::unique_ptr<FileInFlight> next = std::move(pending.front());
            pending.pop_front();
            took = true;
            waitingForHead = false;
            std::uint64_t bytes = 0;
            if (next->takePlan(bytes)) {
                totalDownloadBytes += bytes;
                downloadBytesByFile.push_back(bytes);
                taken.push_back(std::move(next));
            }
        }
        if (took) {
            step();  // the last file taken begins its rebuild
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

    // Ends the rebuilds begun and not yet put in place (PlacingQueue::endAll). On a stop (the
    // launcher closed, the player paused or stopped) a file whose bytes have all come and
    // passed its checks is put in place rather than thrown away; after a failure the files
    // wait for no turn that will come, and go.
    void endRebuilds() noexcept {
        receiving.clear();
        placing.endAll(phase == RunPhase::Stopped);
    }

    // Steps until every file taken is in place: the files at the head whose turn has come are
    // put in place, and in between the transfers run until something ends.
    void rebuildAll() {
        while (!taken.empty() || !placing.empty()) {
            throwIfStopRequested();
            step();
            bool due = false;
            const std::size_t ready = placing.readyAtHead(due);
            if (due) {
                placing.placeBatch(ready, progress);
                continue;
            }
            // The files waiting for their batch are complete: progress goes on with the first
            // file still on its way, in list order.
            for (std::size_t i = 0; i <= ready; ++i) {
                if (!placing.at(i).tellsProgress()) {
                    placing.at(i).tellProgressFromNow(progress);
                }
            }
            FileInFlight& next = placing.at(ready);
            const std::size_t endedBefore = transfers().endedCount();
            runTransfers([&] {
                return next.transferEnded() || transfers().endedCount() != endedBefore ||
                       session.rangesAnswered() != spreadSeen;
            });
        }
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
    std::vector<RemoteFile> files = fetchListing(
        {.session = impl_->session,
         .pool = impl_->transfers(),
         .repoAddress = impl_->repoAddress,
         .installFolder = impl_->installFolder,
         .trust = impl_->trust.get(),
         .runTransfers = [this](const std::function<bool()>& until) { impl_->runTransfers(until); },
         .stopped = [this] { return impl_->phase == RunPhase::Stopped; }});
    impl_->verified = impl_->trust != nullptr;
    if (impl_->sums) {
        // Read against the list before this one.
        impl_->sums->cancel(impl_->transfers());
        impl_->sums.reset();
        impl_->freshFiles = 0;
        impl_->heldForSums = 0;
        for (const auto& file : impl_->pending) {
            file->holdIndex(false);
        }
    }
    impl_->listedLocalPaths.clear();
    impl_->listedTimes.clear();
    for (const RemoteFile& file : files) {
        impl_->listedLocalPaths.push_back(file.localPath);
        impl_->listedTimes.emplace(file.repoPath, file.time);
    }
    return files;
}

void RepoSync::prepareFile(const RemoteFile& file, const FileCheckCallback& onCheck) {
    impl_->throwIfStopRequested();
    impl_->lockFolder();
    // Only a regular file is a local copy: a link there is replaced by the rebuilt file, never
    // followed, neither to read its time nor its bytes.
    LocalCopy local;
    local.kind = KindOf(file.localPath);
    local.timeMatches = local.kind == PathKind::File && LastWriteTime(file.localPath) == file.time;
    const ManifestEntry* signedEntry = impl_->signedEntryFor(file.repoPath);
    const PathRefusal refusal = repoPathRefusal(file.repoPath);
    std::optional<PreparedFile> planned;
    if (impl_->verifyContent && local.kind == PathKind::File && signedEntry != nullptr &&
        refusal == PathRefusal::None) {
        // Examined by its signed hash at the drive's speed: only a copy that differs needs its
        // chunk index, to heal through the delta path.
        const std::optional<ContentDigest> found = digestFile(file.localPath);
        local.contentDiffers = !found || !matchesEntry(*found, *signedEntry);
        if (!local.contentDiffers && !local.timeMatches && signedEntry->size <= UINT32_MAX) {
            planned = timeOnlyPlan(file, *signedEntry);
        }
    }
    if (local.timeMatches &&
        (!impl_->verifyContent || (signedEntry != nullptr && !local.contentDiffers))) {
        // A run that was ended abruptly (killed, or the machine lost power) after this file
        // was done may have left the temporary file of an earlier attempt; the folder is
        // locked, so it is no one's. One unlink, which mostly finds nothing.
        RemoveFile(temporaryPathOf(file.localPath));
        RemoveFile(resumePathOf(file.localPath));
        return;
    }
    local.size = local.kind == PathKind::File ? FileSize(file.localPath) : -1;
    if (!planned && refusal == PathRefusal::None && local.kind == PathKind::Missing &&
        signedEntry != nullptr && signedEntry->size <= UINT32_MAX &&
        KindOf(resumePathOf(file.localPath)) == PathKind::Missing) {
        // Nothing to match and the content known: the file is fetched whole at once, without
        // the round trip for its chunk index.
        planned = wholeFilePlan(file, *signedEntry);
    }
    const std::string& path = file.repoPath;
    std::unique_ptr<FileInFlight> entry;
    if (planned) {
        entry = std::make_unique<FileInFlight>(file, local, onCheck, std::move(*planned));
    } else if (refusal != PathRefusal::None) {
        // Refused before anything is fetched, and told in its turn: the rebuild and the time
        // setting would otherwise reach outside the installation folder.
        entry = std::make_unique<FileInFlight>(file, onCheck,
                                               std::make_exception_ptr(pathRefused(path, refusal)));
    } else if (local.kind == PathKind::Folder) {
        entry = std::make_unique<FileInFlight>(
            file, onCheck,
            std::make_exception_ptr(
                PatchException(Failure::FolderInPlaceOfFile, path,
                               "A folder is where the listed file '" + path + "' belongs.")));
    } else {
        entry = std::make_unique<FileInFlight>(file, local, onCheck,
                                               impl_->repoAddress + "/" + chunkIndexPathOf(path),
                                               impl_->session);
        if (local.kind == PathKind::Missing &&
            KindOf(resumePathOf(file.localPath)) == PathKind::Missing) {
            impl_->planFromSums(*entry);
        }
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
    return impl_->downloadBytesByFile;
}

void RepoSync::patchPreparedFiles(const ProgressCallback& progress) {
    impl_->lockFolder();
    impl_->progress = progress;
    if (impl_->phase == RunPhase::Planning) {
        impl_->phase = RunPhase::Patching;
    }
    impl_->removeResumeDataOfUnlistedFiles();
    try {
        impl_->abandoningRebuildsOnFailure([this] {
            impl_->takePlansInOrder(true);
            impl_->rebuildAll();
        });
    } catch (const PatchException&) {
        impl_->placing.syncFoldersMovedInto();
        if (impl_->phase == RunPhase::Stopped) {
            throw SyncCancelled();  // the old file is untouched
        }
        throw;
    } catch (...) {
        impl_->placing.syncFoldersMovedInto();
        throw;
    }
    impl_->placing.syncFoldersMovedInto();
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
    if (impl_->pending.empty() && impl_->placing.empty()) {
        impl_->pool.reset();
    }
}

}  // namespace veldmoor
