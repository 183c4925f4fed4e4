// One patch run, step by step, on the worker's thread (see patch_worker.h for the lifecycle).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <istream>
#include <mutex>
#include <string>
#include <unordered_set>

#include "patch/launcher_view.h"
#include "patch/patch_platform.h"
#include "patch/patch_worker.h"

namespace veldmoor {

class RepoSync;

// A run's stop request and the condition its pauses wait on.
struct PatchWorker::Control {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};

    void RequestStop();
    void Wake();
    bool StopRequested() const { return stop.load(); }
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
inline constexpr char kGameSettingsFileName[] = "uo.cfg";
inline constexpr std::chrono::milliseconds kRightsRepairTimeout{120000};
inline constexpr std::chrono::milliseconds kClosingPause{3000};

class PatchRun {
public:
    PatchRun(LauncherView& view, PatchPlatform& platform, const PatchRunSeams& seams,
             PatchRunRequest request, PatchWorker::Control& control, CountdownState countdown);

    void Execute();

private:
    enum class StepResult { Done, Failed, Stopped, ProcessEnding };

    bool Countdown();
    StepResult GuardedSync(const std::function<void()>& synchronise);
    StepResult UpdateLauncher();
    StepResult UpdateClient(const PatchContext& profile);
    StepResult EnsureFolderAccess(const std::string& folder);
    StepResult CleanupStep(bool launcherPart);
    void Close();
    void Abort();

    void ReportEngineFailure();
    void SaveProfiles();
    void Pause(std::chrono::milliseconds duration, bool countdown);
    bool Stopped() const { return control_.StopRequested(); }
    // The run's stop request and its status log's retry lines, for each repository sync.
    void ConnectSync(RepoSync& sync);
    void ListAndPrepare(RepoSync& sync, const std::unordered_set<std::string>* excluded);

    LauncherView& view_;
    PatchPlatform& platform_;
    const PatchRunSeams& seams_;
    PatchRunRequest request_;
    PatchWorker::Control& control_;
    CountdownState countdown_;
    TickSource ticks_;
    const EntryRemover& remover_;
};

}  // namespace veldmoor
