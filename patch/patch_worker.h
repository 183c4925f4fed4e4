// The patch worker: one background thread per run that counts down, updates the launcher's own
// files (restarting the launcher when its program changed), runs the cleanup list, updates the
// game installation, writes the registry entry, starts the game and ends the dialog. It reaches
// the window only through LauncherView and the operating system only through PatchPlatform.
//
// A run is never killed. RequestStop asks it to end at its next safe point (each countdown
// second, between files, between received blocks, between steps); it then ends without another
// question or status line. Pause holds it at the same points and Resume lets it go on. Start never
// waits: a new run's thread first waits for the previous run to end, so at most one run works at a
// time and the user-interface thread never blocks. Destroying the worker requests a stop and waits
// for the thread; the dialog closes its view first (see patch/launcher_view.h), so that wait is
// short.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "patch/launcher_view.h"
#include "patch/operations_processor.h"
#include "patch/patch_platform.h"
#include "patch/transfer_progress.h"
#include "profiles/patch_context.h"

namespace veldmoor {

// The length of the countdown of an automatic start.
inline constexpr int kAutoStartCountdownSeconds = 5;

struct PatchRunRequest {
    // The selected profile, copied at the start; std::nullopt when none is selected (the run
    // then stops before the game update).
    std::optional<PatchContext> profile;
    // Saves the dialog's profile list. Called on the worker thread.
    std::function<void()> saveProfiles;
    // 0 or less: no countdown.
    int countdownSeconds = 0;
    // -noselfpatch: leave the launcher's own files and its cleanup lines alone.
    bool noSelfPatch = false;
    // Where the launcher's files, operations.txt and excludes.txt live; empty: the current
    // directory.
    std::string launcherFolder;
    // The launcher repository; empty: the built-in address with its scheme adjusted.
    std::string launcherRepoAddress;
    // Folder of profiles.xml; the trusted state of verified repositories is kept in its
    // "trust" subfolder. Empty: the current directory.
    std::string profilesFolder;
    // Examines the profile's game files by their content and heals what differs, then reports
    // how many were examined and repaired: no launcher update, no cleanup, no game start.
    bool verifyContent = false;
};

// Seams for tests: time and removal. Empty members take the real ones.
struct PatchRunSeams {
    // Replaces every pause of the run (countdown seconds, the 3000 ms before closing). The real
    // pause ends early on a stop request or a called-off countdown.
    std::function<void(std::chrono::milliseconds)> sleep;
    TickSource ticks;
    const EntryRemover* remover = nullptr;
};

class PatchWorker {
public:
    PatchWorker(LauncherView& view, PatchPlatform& platform, PatchRunSeams seams = {});
    ~PatchWorker();
    PatchWorker(const PatchWorker&) = delete;
    PatchWorker& operator=(const PatchWorker&) = delete;

    // Starts a run; a run still working is asked to stop and the new one begins after it ended.
    void Start(PatchRunRequest request);
    // Calls a running countdown off (the auto-start box unticked, Edit or Start clicked). The
    // run ends within one second without touching the dialog further.
    void CancelCountdown();
    // Asks the current run to end at its next safe point. Never blocks.
    void RequestStop();
    // The stop button: as RequestStop, and the run then returns the dialog to its idle layout
    // with a line that it was stopped. What came is kept for the next run, as after a pause.
    void StopByPlayer();
    // The pause button: the run ends its transfers at the next safe point, keeping what came
    // (resume data, files complete and checked), lets go of the folder lock and the
    // connections, shows RunControls::Paused and waits. Resume continues it: its
    // synchronisation starts again from what was kept. A stop ends the waiting run. Neither
    // call blocks.
    void Pause();
    void Resume();
    // True while a run's thread has not yet finished.
    bool IsRunning() const;
    // Waits until no run works any more (tests, shutdown).
    void Join();

    struct Control;  // one run's stop flag and pauses (patch_worker.cpp)

private:
    std::shared_ptr<Control> CurrentRun() const;

    LauncherView& view_;
    PatchPlatform& platform_;
    PatchRunSeams seams_;

    // Guards cancelCountdown_ and the current run's control (the dialog's stateLock).
    mutable std::mutex stateLock_;
    std::atomic<int> cancelCountdown_{0};
    std::shared_ptr<Control> current_;
    std::thread thread_;
};

// Held by a run for its whole countdown, so two countdowns never overlap in the process. When a
// run holds both locks it took this one before the worker's state lock.
std::mutex& CountdownLock();

}  // namespace veldmoor
