// The files whose rebuild has begun, in list order, until each is put in place in its turn.
// Files whose turn has come are put in place in batches: their bytes forced to the drive
// together (one flush of the drive for the batch, not one a file), then moved one after another
// in list order. Each folder files were moved into is forced to the drive once, when patching
// ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>

#include "sync/file_in_flight.h"
#include "sync/repo_sync.h"

namespace veldmoor {

class PlacingQueue {
public:
    // New files' room claimed ahead of the file being put in place: files done before their
    // turn wait beside the old ones, and a slow file at the head must not make them pile up
    // without end, on the drive or in memory.
    static constexpr std::uint64_t kBytesAhead = 512ULL * 1024 * 1024;
    static constexpr std::size_t kFilesAhead = 8192;
    // A batch waits for the files behind it that are still on their way up to these bounds,
    // so that a tree of small files costs a few flushes.
    static constexpr std::size_t kBatchFiles = 256;
    static constexpr std::uint64_t kBatchBytes = 64ULL << 20;

    PlacingQueue() = default;
    // Ends what is left without placing it.
    ~PlacingQueue() = default;
    PlacingQueue(const PlacingQueue&) = delete;
    PlacingQueue& operator=(const PlacingQueue&) = delete;

    bool empty() const { return files_.empty(); }
    // A file of `targetSize` bytes may begin now: within the room ahead, or the first.
    bool hasRoomFor(std::uint64_t targetSize) const {
        return files_.empty() ||
               (files_.size() < kFilesAhead && bytesAhead_ + targetSize <= kBytesAhead);
    }
    // The next file in list order; its room is claimed.
    FileInFlight& add(std::unique_ptr<FileInFlight> file);
    FileInFlight& at(std::size_t i) { return *files_[i]; }

    // How many files at the head can take their turn now (nothing of them is on its way), up
    // to and including the first that fails; `due` when they should rather than wait for more.
    std::size_t readyAtHead(bool& due) const;
    // The turn of the first `count` files: what was held back of their progress is told, and
    // they are put in place, their bytes forced to the drive together first. Throws the failure
    // of the first that failed, after the files before it are in place.
    void placeBatch(std::size_t count, const ProgressCallback& progress);
    // Ends the files not yet put in place: their transfers are cancelled, their temporary files
    // removed, and what came of a large file is kept for resuming. After a stop (`stopped`) the
    // files sealed are put in place out of their turn first, together as a batch would be.
    // The folders moved into are forced to the drive.
    void endAll(bool stopped) noexcept;
    void syncFoldersMovedInto();

private:
    std::deque<std::unique_ptr<FileInFlight>> files_;
    std::uint64_t bytesAhead_ = 0;  // the target sizes of `files_`
    // Folders files were moved into: each is forced to the drive once, when the patching
    // ends, rather than once for every file.
    std::set<std::string> foldersMovedInto_;
};

}  // namespace veldmoor
