#include "sync/file_in_flight.h"

#include <algorithm>
#include <utility>

#include "sync/patch_file.h"
#include "sync/range_receiver.h"
#include "sync/repository_layout.h"
#include "sync/trace.h"
#include "sync/transfer_pool.h"
#include "system/file_ops.h"
#include "system/file_time.h"
#include "system/path.h"

namespace veldmoor {
namespace {

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

struct FileInFlight::IndexFetch {
    IndexFetch(const std::string& url, HttpSession& session, const std::string& repoPath)
        : transfer(
              url, streamed, session,
              [&path = repoPath](const std::string& reason) {
                  return PatchException(
                      Failure::ChunkIndexNotFetched, path,
                      "Connection failed while getting chunks for '" + path + "'. " + reason);
              },
              kMaxChunkIndexBytes) {}

    StreamedIndex streamed;
    // The index is parsed as it arrives and never held as a document: a bound passed ends the
    // transfer at once, whatever the server would still send.
    DocumentTransfer transfer;
};

FileInFlight::FileInFlight(const RemoteFile& file, const LocalCopy& local,
                           FileCheckCallback onCheck, const std::string& indexUrl,
                           HttpSession& session)
    : file_(file), local_(local), onCheck_(std::move(onCheck)), stage_(FileStage::Waiting) {
    index_ = std::make_unique<IndexFetch>(indexUrl, session, file_.repoPath);
}

FileInFlight::FileInFlight(const RemoteFile& file, const LocalCopy& local,
                           FileCheckCallback onCheck, PreparedFile planned)
    : file_(file),
      local_(local),
      onCheck_(std::move(onCheck)),
      stage_(FileStage::Planned),
      planned_(std::move(planned)) {}

FileInFlight::FileInFlight(const RemoteFile& file, FileCheckCallback onCheck,
                           std::exception_ptr failure)
    : file_(file),
      onCheck_(std::move(onCheck)),
      stage_(FileStage::Failed),
      failure_(std::move(failure)) {}

FileInFlight::~FileInFlight() {
    for (const auto& transfer : transfers_) {
        pool_->cancel(*transfer);  // before the receivers go
    }
    if (rebuild_ && stage_ == FileStage::Fetching) {
        // A stop or a failure: a large file keeps what came for the next run.
        rebuild_->keepForResume();
    }
}

void FileInFlight::fail() {
    stage_ = FileStage::Failed;
    failure_ = std::current_exception();
}

void FileInFlight::askForIndex(TransferPool& pool) {
    stage_ = FileStage::Index;
    pool.startAhead(index_->transfer);
}

void FileInFlight::planWithoutIndex(PreparedFile planned) {
    planned_ = std::move(planned);
    stage_ = FileStage::Planned;
    indexHeld_ = false;
    index_.reset();
}

bool FileInFlight::indexOnItsWay() const {
    return stage_ == FileStage::Index && !index_->transfer.ended();
}

bool FileInFlight::indexEnded() const {
    return !index_ || index_->transfer.ended();
}

std::size_t FileInFlight::indexBytesHeld() const {
    return index_ ? index_->streamed.reader.index().entries.capacity() * sizeof(Piece) : 0;
}

bool FileInFlight::indexCame() const {
    return stage_ == FileStage::Index && index_->transfer.ended();
}

void FileInFlight::makePlan(const ManifestEntry* signedContent, bool verifyContent, bool stopped,
                            bool layOutEarly) {
    if (!indexCame()) {
        return;
    }
    try {
        const DocumentTransfer& transfer = index_->transfer;
        if (stopped && transfer.state() != HttpTransfer::State::Done && !transfer.refused()) {
            throw SyncCancelled();  // a failed transfer is a cancellation after a stop
        }
        planned_ = planFromIndex(file_, local_, transfer, index_->streamed.reader, signedContent,
                                 verifyContent, layOutEarly);
        // Examined by content and found whole, with its time: nothing to do.
        stage_ = (planned_->knownCurrent.value_or(false) && local_.timeMatches)
                     ? FileStage::Placed
                     : FileStage::Planned;
    } catch (...) {
        fail();
    }
    index_.reset();
}

bool FileInFlight::takePlan(std::uint64_t& downloadBytes) {
    const std::string& path = file_.repoPath;
    trace("--------------->%s(%u):\n", path, file_.time);
    if (stage_ == FileStage::Placed) {
        return false;  // examined by content and found whole, with its time
    }
    if (onCheck_) {
        onCheck_(path);
    }
    if (stage_ == FileStage::Failed) {
        std::rethrow_exception(failure_);
    }
    downloadBytes = 0;
    for (const Piece& piece : planned_->plan.pieces) {
        if (piece.kind == kPieceDownload) {
            planned_->downloads.push_back(piece);
            downloadBytes += piece.length;
        }
    }
    targetSize_ = targetSizeOf(*planned_);
    return true;
}

void FileInFlight::beginRebuild(const RebuildContext& run) {
    const PreparedFile& file = *planned_;
    if (localCopyIsCurrent(file)) {
        timeOnly_ = true;
        stage_ = FileStage::Sealed;  // nothing to fetch: it waits for its turn
        return;
    }
    const ProgressCallback held = [this, &progress = run.progress](const std::string& path,
                                                                   unsigned int written,
                                                                   unsigned int total) {
        if (progressInTurn_) {
            if (progress) {
                progress(path, written, total);
            }
            return;
        }
        heldProgress_ = Written{written, total};
    };
    try {
        rebuild_ = std::make_unique<FileRebuild>(file, held, std::move(planned_->laidOutEarly));
    } catch (const PatchException&) {
        fail();
        return;
    }
    stage_ = FileStage::Fetching;
    pool_ = &run.pool;
    if (RangeReceiver* receiver = rebuild_->receiver(); receiver != nullptr) {
        transfers_.push_back(std::make_unique<RangeTransfer>(
            run.repoAddress + "/" + transferPathOf(file.file.repoPath), *receiver, run.session));
        run.pool.start(*transfers_.back());
    }
    // The ranges are asked for first and their answers taken in while the local blocks are
    // copied: a large file's copy and its download overlap rather than follow one another.
    // What ends meanwhile (this file's ranges or another file's) is seen at the next step.
    const auto takeAnswers = [&pool = run.pool] { return !pool.run([] { return true; }); };
    rebuild_->layOut(run.stop, transfers_.empty() ? StopRequest() : StopRequest(takeAnswers));
}

bool FileInFlight::transferEnded() const {
    return std::none_of(transfers_.begin(), transfers_.end(), [](const auto& transfer) {
        return transfer->state() == HttpTransfer::State::Waiting ||
               transfer->state() == HttpTransfer::State::Running;
    });
}

const RangeTransfer* FileInFlight::failedTransfer() const {
    for (const auto& transfer : transfers_) {
        if (transfer->state() == HttpTransfer::State::Failed) {
            return transfer.get();
        }
    }
    return nullptr;
}

void FileInFlight::keepFetching(const RebuildContext& run) {
    if (transfers_.size() > 1 && failedTransfer() != nullptr) {
        for (const auto& transfer : transfers_) {
            if (!transfer->ended()) {
                pool_->cancel(*transfer);
            }
        }
    }
    if (transferEnded() || spread_ || !run.session.rangesAnswered() || transfers_.empty()) {
        return;
    }
    // Otherwise its requests would go one after another, a round trip each, however many
    // connections idle.
    spread_ = true;
    const std::size_t parts = run.pool.capacity();
    for (RangeReceiver* receiver :
         rebuild_->spreadDownloads(parts, run.session.rangesPerRequest())) {
        transfers_.push_back(std::make_unique<RangeTransfer>(
            run.repoAddress + "/" + transferPathOf(file_.repoPath), *receiver, run.session));
        run.pool.start(*transfers_.back());
    }
}

void FileInFlight::sealIfComplete() {
    if (stage_ != FileStage::Fetching || !rebuild_ ||
        std::any_of(transfers_.begin(), transfers_.end(),
                    [](const auto& t) { return t->state() != HttpTransfer::State::Done; })) {
        return;
    }
    // Every byte came: nothing to resume, whatever the check finds.
    stage_ = FileStage::Sealed;
    transfers_.clear();
    try {
        rebuild_->seal(CloseSync::Together);  // forced with its batch (placeBatch)
    } catch (const PatchException&) {
        fail();
    }
}

void FileInFlight::tellProgressFromNow(const ProgressCallback& progress) {
    progressInTurn_ = true;
    if (heldProgress_ && progress) {
        progress(file_.repoPath, heldProgress_->written, heldProgress_->total);
    }
}

FileRebuild* FileInFlight::sealedRebuild() const {
    return stage_ == FileStage::Sealed ? rebuild_.get() : nullptr;
}

void FileInFlight::place(std::set<std::string>& foldersMovedInto) {
    if (stage_ == FileStage::Failed) {
        std::rethrow_exception(failure_);
    }
    if (timeOnly_) {
        // Never through a link: the local copy was a regular file when it was examined.
        SetLastWriteTimeOfEntry(file_.localPath, file_.time);
        stage_ = FileStage::Placed;
        return;
    }
    if (const RangeTransfer* failed = failedTransfer(); failed != nullptr) {
        rebuild_->failTransfer(failed->failure());  // keeps what came
    }
    // Whatever the check finds, the bytes are not kept: a file that fails its checksum
    // must not be resumed from them. It counts as failed until its move has succeeded.
    stage_ = FileStage::Failed;
    foldersMovedInto.insert(DirectoryOf(file_.localPath));
    rebuild_->finish(MoveSync::Later);
    stage_ = FileStage::Placed;
}

void FileInFlight::placeOutOfTurn(std::set<std::string>& foldersMovedInto) noexcept {
    if (sealedRebuild() == nullptr) {
        return;
    }
    try {
        rebuild_->finish(MoveSync::Later);
        stage_ = FileStage::Placed;
        foldersMovedInto.insert(DirectoryOf(file_.localPath));
    } catch (...) {
        // The old file stays; the next run fetches this one again.
    }
}

}  // namespace veldmoor
