// One patch run, step by step, on the worker's thread (see patch_worker.h for the lifecycle).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <istream>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>

#include "patch/launcher_view.h"
#include "patch/patch_platform.h"
#include "patch/patch_worker.h"
#include "sync/signed_metadata.h"
#include "system/result.h"

namespace veldmoor {

class RepoSync;

// A run's stop and pause requests and the condition its pauses and its hold wait on.
struct PatchWorker::Control {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> stop{false};
    std::atomic<bool> stopByPlayer{false};
    std::atomic<bool> pause{false};
    std::atomic<bool> finished{false};

    // byPlayer: the stop button, which the run answers in the window (see PatchRun::Execute).
    void RequestStop(bool byPlayer = false);
    void RequestPause();
    void Resume();
    void Wake();
    bool StopRequested() const { return stop.load(); }
    bool PauseRequested() const { return pause.load(); }
};

// The state the run shares with the dialog: the countdown flag (reset by PatchWorker::Start,
// set by CancelCountdown under stateLock, read here without it) and its lock.
struct CountdownState {
    std::mutex& stateLock;
    std::atomic<int>& cancelCountdown;
};

// excludes.txt in launcherFolder: one repository path per line; empty when the file is missing.
std::unordered_set<std::string> ReadExclusionList(const std::string& launcherFolder);
// The same for a list already open.
std::unordered_set<std::string> ParseExclusionList(std::istream& list);

inline constexpr char kExclusionFileName[] = "excludes.txt";
inline constexpr std::chrono::milliseconds kRightsRepairTimeout{120000};
inline constexpr std::chrono::milliseconds kClosingPause{3000};

class PatchRun {
public:
    PatchRun(LauncherView& view, PatchPlatform& platform, const PatchRunSeams& seams,
             PatchRunRequest request, PatchWorker::Control& control, CountdownState countdown);

    void Execute();

private:
    enum class StepResult { Done, Failed, Stopped, ProcessEnding };
    // How many listed files were examined, and how many of them were found to differ.
    struct FileCounts {
        std::size_t examined = 0;
        std::size_t differing = 0;
    };

    void RunSteps();
    bool Countdown();
    // Runs one repository's synchronisation. A pause ends it (the engine keeps what came) and
    // holds the run; on resume the synchronisation starts again and takes what was kept.
    StepResult GuardedSync(const std::function<void()>& synchronise);
    // Waits, holding no folder lock and no connection, until the run is resumed (true) or
    // stopped (false).
    bool HoldWhilePaused();
    void EnterPatchingLayout();
    StepResult UpdateLauncher();
    StepResult UpdateClient(const PatchContext& profile, FileCounts& counts);
    StepResult EnsureFolderAccess(const std::string& folder);
    StepResult CleanupStep(bool launcherPart);
    StepResult CheckSignedCleanupList();
    StepResult VerifyGameFiles(const PatchContext& profile);
    void Close();
    void Abort();

    void SaveProfiles();
    void Pause(std::chrono::milliseconds duration, bool countdown);
    bool Stopped() const { return control_.StopRequested(); }
    // The run's stop request and its status log's retry lines, for each repository sync.
    void ConnectSync(RepoSync& sync);
    // The repository's root of trust and the folder of its trusted state; an empty root leaves
    // the repository unverified, which the diagnostic trace notes; an unreadable one ends the
    // run.
    void ConfigureTrust(RepoSync& sync, const std::string& address, Result<std::string> root);
    // Counts into `counts`, which must outlive the transfers (the engine may name a differing
    // file as late as then).
    void ListAndPrepare(RepoSync& sync, const std::unordered_set<std::string>* excluded,
                        FileCounts& counts);

    LauncherView& view_;
    PatchPlatform& platform_;
    const PatchRunSeams& seams_;
    PatchRunRequest request_;
    PatchWorker::Control& control_;
    CountdownState countdown_;
    TickSource ticks_;
    const EntryRemover& remover_;
    std::string trustStateFolder_;
    bool patchingLayout_ = false;
    // Bytes the current step brought before it was paused (RunTransfers).
    std::uint64_t carriedBytes_ = 0;
    // Set once the launcher repository was verified: the manifest's entry for the cleanup list,
    // or an empty one when the manifest does not name it.
    std::optional<std::optional<ManifestEntry>> signedCleanupList_;
};

}  // namespace veldmoor
