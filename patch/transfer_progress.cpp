#include "patch/transfer_progress.h"

#include <chrono>
#include <fstream>
#include <utility>

#include "sync/patch_exception.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {

namespace {

constexpr std::uint32_t kSizeGateMs = 100;
constexpr std::uint32_t kSpeedGateMs = 1000;

bool IsNonEmptyFile(const std::string& path) {
    std::ifstream file(PathFromUtf8(path), std::ios::binary | std::ios::ate);
    return file.is_open() && file.tellg() > 0;
}

}  // namespace

std::uint32_t SystemTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

FileCheckCallback MakeFileCheckCallback(LauncherView& view) {
    return [&view](const std::string& repoPath) { view.Report(FileExamined{repoPath}); };
}

TransferProgress::TransferProgress(LauncherView& view, std::uint64_t total, std::string localRoot,
                                   TickSource ticks, std::uint64_t carried)
    : view_(view),
      ticks_(std::move(ticks)),
      total_(carried + total),
      done_(carried),
      current_(carried),
      doneAtLastSpeed_(carried),
      localRoot_(std::move(localRoot)) {
    lastSizeTick_ = lastSpeedTick_ = ticks_();
}

void TransferProgress::Begin() {
    view_.Report(TransfersStarted{done_, total_});
}

void TransferProgress::OnFileProgress(const std::string& repoPath, std::uint32_t fileDone,
                                      std::uint32_t fileTotal) {
    const std::uint64_t current = done_ + fileDone;
    current_ = current;
    ReportBytes(current, false);
    ReportRate(current);

    if (repoPath != lastFile_) {
        lastFile_ = repoPath;
        // Looked at before the engine replaces the file, so an existing one reads "aktualisiert".
        const bool exists = IsNonEmptyFile(AppendPathComponent(localRoot_, repoPath));
        view_.Report(FileFetched{repoPath, exists});
    }

    if (fileDone == fileTotal) {
        done_ += fileTotal;
        ReportBytes(current, true);
    }
}

void TransferProgress::ReportBytes(std::uint64_t current, bool force) {
    const std::uint32_t now = ticks_();
    if (!(now - lastSizeTick_ > kSizeGateMs || !sizeShown_ || force))
        return;
    lastSizeTick_ = now;
    view_.Report(TransferProgressed{current, total_});
    sizeShown_ = true;
}

void TransferProgress::ReportRate(std::uint64_t current) {
    const std::uint32_t now = ticks_();
    if (!(now - lastSpeedTick_ > kSpeedGateMs || !speedShown_))
        return;
    const std::uint32_t elapsed = now - lastSpeedTick_;
    if (elapsed == 0) {
        // No time to measure over yet: show zero and keep the interval open, so the next update
        // averages over the time since the transfer began.
        view_.Report(TransferRate{0});
        speedShown_ = true;
        return;
    }
    lastSpeedTick_ = now;
    const double perSecond = static_cast<double>(current - doneAtLastSpeed_) * 1000.0 / elapsed;
    doneAtLastSpeed_ = current;
    view_.Report(TransferRate{static_cast<std::uint64_t>(perSecond)});
    speedShown_ = true;
}

void RunTransfers(LauncherView& view, RepoSync& sync, const std::string& localRoot,
                  const TickSource& ticks, std::uint64_t& carried) {
    TransferProgress progress(view, sync.totalDownloadBytes(), localRoot, ticks, carried);
    progress.Begin();
    try {
        sync.patchPreparedFiles([&progress](const std::string& repoPath, unsigned int fileDone,
                                            unsigned int fileTotal) {
            progress.OnFileProgress(repoPath, fileDone, fileTotal);
        });
    } catch (const SyncCancelled&) {
        carried = progress.Current();
        throw;
    }
    view.Report(TransfersEnded{});
}

}  // namespace veldmoor
