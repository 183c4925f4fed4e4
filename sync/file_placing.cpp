#include "sync/file_placing.h"

#include <vector>

#include "sync/patch_file.h"
#include "system/new_file.h"

namespace veldmoor {

FileInFlight& PlacingQueue::add(std::unique_ptr<FileInFlight> file) {
    bytesAhead_ += file->targetSize();
    files_.push_back(std::move(file));
    return *files_.back();
}

std::size_t PlacingQueue::readyAtHead(bool& due) const {
    std::size_t ready = 0;
    std::uint64_t bytes = 0;
    due = false;
    for (const auto& file : files_) {
        if (!file->transferEnded()) {
            // A large file on its way is not waited for: the files before it go now.
            due = ready > 0 && bytes + file->targetSize() >= kBatchBytes;
            return ready;
        }
        ++ready;
        bytes += file->targetSize();
        if (file->stage() == FileStage::Failed || file->failedTransfer() != nullptr ||
            ready >= kBatchFiles || bytes >= kBatchBytes) {
            due = true;  // a failure is told in its turn, after the files before it
            return ready;
        }
    }
    // Nothing behind them has begun: the run is ending, or waits for room to begin more.
    due = true;
    return ready;
}

void PlacingQueue::placeBatch(std::size_t count, const ProgressCallback& progress) {
    std::vector<FileRebuild*> batch;
    for (std::size_t i = 0; i < count; ++i) {
        if (FileRebuild* sealed = files_[i]->sealedRebuild(); sealed != nullptr) {
            batch.push_back(sealed);
        }
    }
    FileRebuild::forceTogether(batch);
    for (std::size_t i = 0; i < count; ++i) {
        FileInFlight& head = *files_.front();
        if (!head.tellsProgress()) {
            head.tellProgressFromNow(progress);
        }
        head.place(foldersMovedInto_);
        bytesAhead_ -= head.targetSize();
        files_.pop_front();
    }
}

void PlacingQueue::endAll(bool stopped) noexcept {
    if (stopped) {
        std::vector<FileRebuild*> batch;
        for (const auto& file : files_) {
            if (FileRebuild* sealed = file->sealedRebuild(); sealed != nullptr) {
                batch.push_back(sealed);
            }
        }
        try {
            FileRebuild::forceTogether(batch);  // one flush for them all, as in placeBatch
        } catch (...) {
            // Each file not forced here is forced by its own move.
        }
        for (const auto& file : files_) {
            file->placeOutOfTurn(foldersMovedInto_);
        }
    }
    files_.clear();
    bytesAhead_ = 0;
    syncFoldersMovedInto();
}

void PlacingQueue::syncFoldersMovedInto() {
    for (const std::string& folder : foldersMovedInto_) {
        SyncMovesInFolder(folder);
    }
    foldersMovedInto_.clear();
}

}  // namespace veldmoor
