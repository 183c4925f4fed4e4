#include "sync/repo_sync.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>

#include "sync/chunk_index.h"
#include "sync/file_list.h"
#include "sync/http.h"
#include "sync/patch_exception.h"
#include "sync/patch_file.h"
#include "sync/prepared_file.h"
#include "sync/trace.h"
#include "system/file_ops.h"
#include "system/file_time.h"
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

// True when the local copy already is the target, so only its time needs setting. A plan
// without downloads for a file of the same size holds every block, but a block found at
// another offset (blocks moved, or a repeated block taken from its first copy) says nothing
// about the bytes at its own place: the whole file's checksum decides then.
bool localCopyIsCurrent(const PreparedFile& prepared) {
    if (!prepared.hasLocalCopy || prepared.sizeDiffers || !prepared.downloads.empty()) {
        return false;
    }
    const bool inPlace =
        std::all_of(prepared.plan.pieces.begin(), prepared.plan.pieces.end(),
                    [](const Piece& piece) { return piece.sourceOffset == piece.targetOffset; });
    return inPlace || fileCrc32(prepared.file.localPath) == prepared.plan.expectedCrc;
}

// How long a run waits for another update of the same folder to end before it gives up.
constexpr std::chrono::seconds kLockWait{3};

// The file list's body, kept as it arrives up to its bound; past it the transfer ends.
struct BoundedText : DocumentSink {
    std::string text;
    bool tooLarge = false;

    void restart() override { text.clear(); }
    bool append(const char* data, std::size_t size) override {
        if (text.size() + size > kMaxFileListBytes) {
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

}  // namespace

struct RepoSync::Impl {
    std::string installFolder;
    std::string repoAddress;
    CURL* handle = nullptr;
    HttpSession session;
    std::vector<PreparedFile> prepared;
    std::uint64_t totalDownloadBytes = 0;
    StopRequest stop;
    bool stopped = false;
    std::unique_ptr<FolderLock> lock;
    // Most bytes the current answer may take as it travels (0: no bound), and whether it
    // passed them. Counted before any decoding: a compressed bomb is cut off by what inflates
    // from it in the write callbacks, a plain one here as well.
    std::uint64_t receiveLimit = 0;
    bool receivedTooMuch = false;

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

    // libcurl polls this between received blocks (and about once a second while idle); a
    // non-zero answer aborts the transfer, which the caller then turns into SyncCancelled.
    static int onTransferProgress(void* self, curl_off_t /*dlTotal*/, curl_off_t dlNow,
                                  curl_off_t /*ulTotal*/, curl_off_t /*ulNow*/) {
        auto& impl = *static_cast<Impl*>(self);
        if (impl.receiveLimit != 0 && static_cast<std::uint64_t>(dlNow) > impl.receiveLimit) {
            impl.receivedTooMuch = true;
            return 1;
        }
        return impl.stopRequested() ? 1 : 0;
    }

    // GETs one document whose size is bounded both on the wire and by its sink.
    HttpResult getBounded(const std::string& url, DocumentSink& sink, std::uint64_t limit) {
        receiveLimit = limit;
        receivedTooMuch = false;
        HttpResult got = fetchDocument(url, sink, handle);
        receiveLimit = 0;
        return got;
    }

    // One writer per installation: two runs writing one folder would each lay out and move the
    // same files. The lock lasts as long as this RepoSync.
    void lockFolder() {
        if (lock) {
            return;
        }
        if (!IsDirectory(installFolder)) {
            // A fresh installation: its folder is made now so that it can carry the lock.
            std::string error;
            const PathRefusal refusal =
                makeParentFolders(installFolder + kPathSeparator + "x", &error);
            if (refusal != PathRefusal::None) {
                throw pathRefused(installFolder, refusal, error);
            }
        }
        FolderLock::Outcome outcome = FolderLock::Outcome::Failed;
        std::string error;
        lock = FolderLock::Lock(
            installFolder, kLockWait, [this] { return stopRequested(); }, outcome, error);
        throwIfStopRequested();
        if (outcome == FolderLock::Outcome::HeldElsewhere) {
            throw PatchException(0, kCodeFolderBusy, installFolder,
                                 "Another update of the folder '" + installFolder +
                                     "' is running; try again once it has ended.");
        }
        if (!lock) {
            throw PatchException(0, kCodeFolderBusy, installFolder,
                                 "The folder '" + installFolder +
                                     "' cannot be locked for the update: " + error + ".");
        }
    }

    // A failed transfer is a cancellation when the caller asked to stop during it.
    void throwIfTransferCancelled() {
        if (stopped) {
            throw SyncCancelled();
        }
    }
};

RepoSync::RepoSync(std::string installFolder, std::string repoAddress)
    : impl_(std::make_unique<Impl>()) {
    impl_->installFolder = std::move(installFolder);
    impl_->repoAddress = std::move(repoAddress);
    initCurlOnce();
    impl_->handle = curl_easy_init();
    if (impl_->handle != nullptr) {
        curl_easy_setopt(impl_->handle, CURLOPT_XFERINFOFUNCTION, &Impl::onTransferProgress);
        curl_easy_setopt(impl_->handle, CURLOPT_XFERINFODATA, impl_.get());
        curl_easy_setopt(impl_->handle, CURLOPT_NOPROGRESS, 0L);
        impl_->session.settings = HttpSettings::fromEnvironment();
        impl_->session.stopped = [impl = impl_.get()] { return impl->stopRequested(); };
        configureHandle(impl_->handle, impl_->session);
    }
}

RepoSync::~RepoSync() {
    if (impl_->handle != nullptr) {
        curl_easy_cleanup(impl_->handle);
    }
}

std::vector<RemoteFile> RepoSync::listFiles() {
    impl_->throwIfStopRequested();
    impl_->lockFolder();
    BoundedText body;
    const std::string url = impl_->repoAddress + "/filelist.php";
    if (const HttpResult got = impl_->getBounded(url, body, kMaxFileListBytes); !got.ok) {
        impl_->throwIfTransferCancelled();
        if (body.tooLarge || impl_->receivedTooMuch) {
            throw PatchException(
                2, 1, "filelist.php",
                "The file list is larger than " + std::to_string(kMaxFileListBytes) + " bytes.");
        }
        throw PatchException(
            1, 7, "", "Http request failed while getting files! " + got.cause + " (" + url + ")");
    }
    std::vector<RemoteFile> files = parseFileList(body.text, impl_->installFolder);
    const std::string problem = fileListProblem(files);
    if (!problem.empty()) {
        throw PatchException(2, 1, "filelist.php",
                             "The file list cannot be used: " + problem + ".");
    }
    return files;
}

void RepoSync::prepareFile(const RemoteFile& file, const FileCheckCallback& onCheck) {
    impl_->throwIfStopRequested();
    impl_->lockFolder();
    // Only a regular file is a local copy: a link there is replaced by the rebuilt file, never
    // followed, neither to read its time nor its bytes.
    const PathKind kind = KindOf(file.localPath);
    if (kind == PathKind::File && LastWriteTime(file.localPath) == file.time) {
        // A run that was ended abruptly (killed, or the machine lost power) after this file
        // was done may have left the temporary file of an earlier attempt; the folder is
        // locked, so it is no one's. One unlink, which mostly finds nothing.
        RemoveFile(temporaryPathOf(file.localPath));
        return;
    }
    trace("--------------->%s(%u):\n", file.repoPath, file.time);
    if (onCheck) {
        onCheck(file.repoPath);
    }
    const std::string& path = file.repoPath;
    // Refused before anything is fetched: the rebuild and the time setting would otherwise
    // reach outside the installation folder.
    if (const PathRefusal refusal = repoPathRefusal(path); refusal != PathRefusal::None) {
        throw pathRefused(path, refusal);
    }
    if (kind == PathKind::Folder) {
        throw PatchException(0, kCodeFolderInPlaceOfFile, path,
                             "A folder is where the listed file '" + path + "' belongs.");
    }
    const bool hasLocalCopy = kind == PathKind::File;
    const std::int64_t localSize = hasLocalCopy ? FileSize(file.localPath) : -1;

    // The index is parsed as it arrives and never held as a document: a bound passed ends the
    // transfer at once, whatever the server would still send.
    StreamedIndex streamed;
    const HttpResult got = impl_->getBounded(impl_->repoAddress + "/transfer/" + path + ".chunks",
                                             streamed, kMaxChunkIndexBytes);
    if (!got.ok && !streamed.refused && !impl_->receivedTooMuch) {
        impl_->throwIfTransferCancelled();
        throw PatchException(
            1, 0, path, "Connection failed while getting chunks for '" + path + "'. " + got.cause);
    }
    if (impl_->receivedTooMuch || !streamed.reader.finish()) {
        const std::string why =
            impl_->receivedTooMuch
                ? "it is larger than " + std::to_string(kMaxChunkIndexBytes) + " bytes"
                : streamed.reader.problem();
        throw PatchException(2, 1, path, "Chunk file for '" + path + "' is invalid: " + why + ".");
    }
    ChunkIndex index = std::move(streamed.reader.index());

    PreparedFile prepared;
    prepared.file = file;
    prepared.hasLocalCopy = hasLocalCopy;
    // A missing local copy differs from any target, an empty one included: otherwise an empty
    // file would never be created and would be examined again on every run.
    prepared.sizeDiffers = localSize != static_cast<std::int64_t>(index.targetSize);
    prepared.plan = buildBlockPlan(hasLocalCopy ? file.localPath : std::string(), index.entries,
                                   index.targetCrc);
    planGaps(prepared.plan, index.targetSize);
    for (const Piece& piece : prepared.plan.pieces) {
        if (piece.kind == kPieceDownload) {
            prepared.downloads.push_back(piece);
            impl_->totalDownloadBytes += piece.length;
        }
    }
    impl_->prepared.push_back(std::move(prepared));
}

std::uint64_t RepoSync::totalDownloadBytes() const {
    return impl_->totalDownloadBytes;
}

void RepoSync::patchPreparedFiles(const ProgressCallback& progress) {
    impl_->lockFolder();
    for (const PreparedFile& prepared : impl_->prepared) {
        impl_->throwIfStopRequested();
        if (localCopyIsCurrent(prepared)) {
            // Never through a link: the local copy was a regular file when it was examined.
            SetLastWriteTimeOfEntry(prepared.file.localPath, prepared.file.time);
            continue;
        }
        try {
            // Sets the time itself; the half-built file goes with any failure.
            patchFile(prepared, impl_->repoAddress, impl_->handle, progress,
                      [this] { return impl_->stopRequested(); });
        } catch (const PatchException&) {
            if (impl_->stopped) {
                throw SyncCancelled();  // the old file is untouched
            }
            throw;
        }
    }
}

void RepoSync::setStopRequest(StopRequest stop) {
    impl_->stop = std::move(stop);
}

void RepoSync::setHttpSettings(const HttpSettings& settings) {
    impl_->session.settings = settings;
    if (impl_->handle != nullptr) {
        configureHandle(impl_->handle, impl_->session);
    }
}

}  // namespace veldmoor
