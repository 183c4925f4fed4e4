// What the run reports while files are transferred: the bytes so far, the rate and each file as
// it begins. The bytes are reported at most every 100 ms (and at the end of every file), the
// rate at most every 1000 ms, so a report per received block stays cheap.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "patch/launcher_view.h"
#include "sync/repo_sync.h"

namespace veldmoor {

// Millisecond tick count; differences are taken modulo 2^32.
using TickSource = std::function<std::uint32_t()>;
std::uint32_t SystemTickCount();

// The FileCheckCallback of a run: reports that a file is being examined.
FileCheckCallback MakeFileCheckCallback(LauncherView& view);

// The state of one transfer phase, fed by the engine's ProgressCallback.
class TransferProgress {
public:
    // `carried`: bytes the same step brought before it was paused; the bytes reported go on
    // from there (out of carried + total) rather than from zero.
    TransferProgress(LauncherView& view, std::uint64_t total, std::string localRoot,
                     TickSource ticks, std::uint64_t carried = 0);

    // Reports that the transfers begin, with what was carried.
    void Begin();
    // Bytes of the phase so far, the carried ones included.
    std::uint64_t Current() const { return current_; }
    // bytes of this file written so far, bytes of this file to write.
    void OnFileProgress(const std::string& repoPath, std::uint32_t fileDone,
                        std::uint32_t fileTotal);

private:
    // Byte counts of the whole phase are 64-bit: the files of a fresh installation together
    // may well pass 4 GiB.
    void ReportBytes(std::uint64_t current, bool force);
    void ReportRate(std::uint64_t current);

    LauncherView& view_;
    TickSource ticks_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::uint64_t current_ = 0;
    std::uint32_t lastSizeTick_ = 0;
    bool sizeShown_ = false;
    std::uint32_t lastSpeedTick_ = 0;
    std::uint64_t doneAtLastSpeed_ = 0;
    bool speedShown_ = false;
    std::string lastFile_;
    std::string localRoot_;
};

// Runs patchPreparedFiles of sync with the progress reported to view. PatchException and
// SyncCancelled pass through without TransfersEnded; the caller's failure or pause says it.
// `carried`: bytes this step brought before a pause (see TransferProgress); a stop leaves in it
// the bytes brought so far, for the step's next start.
void RunTransfers(LauncherView& view, RepoSync& sync, const std::string& localRoot,
                  const TickSource& ticks, std::uint64_t& carried);

}  // namespace veldmoor
