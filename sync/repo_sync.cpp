#include "sync/repo_sync.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <sstream>
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
    if (prepared.sizeDiffers || !prepared.downloads.empty()) {
        return false;
    }
    const bool inPlace =
        std::all_of(prepared.plan.pieces.begin(), prepared.plan.pieces.end(),
                    [](const Piece& piece) { return piece.sourceOffset == piece.targetOffset; });
    return inPlace || fileCrc32(prepared.file.localPath) == prepared.plan.expectedCrc;
}

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
    static int onTransferProgress(void* self, curl_off_t /*dlTotal*/, curl_off_t /*dlNow*/,
                                  curl_off_t /*ulTotal*/, curl_off_t /*ulNow*/) {
        return static_cast<Impl*>(self)->stopRequested() ? 1 : 0;
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
    std::string body;
    const std::string url = impl_->repoAddress + "/filelist.php";
    if (const HttpResult got = fetchDocument(url, body, impl_->handle); !got.ok) {
        impl_->throwIfTransferCancelled();
        throw PatchException(
            1, 7, "", "Http request failed while getting files! " + got.cause + " (" + url + ")");
    }
    return parseFileList(body, impl_->installFolder);
}

void RepoSync::prepareFile(const RemoteFile& file, const FileCheckCallback& onCheck) {
    impl_->throwIfStopRequested();
    if (LastWriteTime(file.localPath) == file.time) {
        return;
    }
    trace("--------------->%s(%u):\n", file.repoPath, file.time);
    if (onCheck) {
        onCheck(file.repoPath);
    }
    const std::string& path = file.repoPath;
    // Refused before anything is fetched: the rebuild and the time setting would otherwise
    // reach outside the installation folder.
    if (!isSafeRepoPath(path)) {
        throw PatchException(0, 2, path, "Couldn't create directory for '" + path + "'!");
    }
    const std::int64_t localSize = FileSize(file.localPath);

    ChunkIndex index;
    {
        // The document lives only while it is parsed: a large file's index is megabytes, and
        // the matcher's table and the plan come next.
        std::string bytes;
        if (const HttpResult got = fetchDocument(
                impl_->repoAddress + "/transfer/" + path + ".chunks", bytes, impl_->handle);
            !got.ok) {
            impl_->throwIfTransferCancelled();
            throw PatchException(
                1, 0, path,
                "Connection failed while getting chunks for '" + path + "'. " + got.cause);
        }
        if (!parseChunkIndex(std::string_view(bytes), index)) {
            throw PatchException(2, 1, path, "Chunk file for '" + path + "' is invalid.");
        }
    }

    PreparedFile prepared;
    prepared.file = file;
    // A missing local copy differs from any target, an empty one included: otherwise an empty
    // file would never be created and would be examined again on every run.
    prepared.sizeDiffers = localSize != static_cast<std::int64_t>(index.targetSize);
    prepared.plan = buildBlockPlan(file.localPath, index.entries, index.targetCrc);
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
    for (const PreparedFile& prepared : impl_->prepared) {
        impl_->throwIfStopRequested();
        if (!localCopyIsCurrent(prepared)) {
            try {
                patchFile(prepared, impl_->repoAddress, impl_->handle, progress);
            } catch (const PatchException&) {
                if (impl_->stopped) {
                    // The old file is untouched; the half-built new one goes.
                    RemoveFile(prepared.file.localPath + ".tmp");
                    throw SyncCancelled();
                }
                throw;
            }
        }
        SetLastWriteTime(prepared.file.localPath, prepared.file.time);
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
