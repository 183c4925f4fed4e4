// What a patch run tells its window, as values: which step it is in, which file it examines or
// fetches, how many bytes have come and how fast, that a connection is tried again, that it
// failed and why, the countdown and the end. The window (ui/run_presenter.h) turns them into
// the texts it shows; the run never writes a word the player reads. Questions that need an
// answer are RunQuestion (below), asked through LauncherView::Ask.
//
// Paths are UTF-8 as the repository or the profile names them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "patch/operations_exception.h"
#include "sync/patch_exception.h"

namespace veldmoor {

// The repository step a run is in.
enum class RunStep {
    Launcher,  // the launcher's own files
    Client,    // the game's files
    Verify,    // the game's files, each examined by its content
};

// Which folder a cleanup list's lines apply to.
enum class CleanupTarget { Launcher, Client };

// ---- the run's course
struct RunStarted {};   // a run begins: the log is emptied, the profile is fixed
struct CountdownTick {  // once a second before the start
    int secondsLeft = 0;
};
struct CountdownOver {};    // the countdown ended, run or called off
struct PatchingStarted {};  // the run patches from now on: pause and stop are offered
struct StepStarted {
    RunStep step = RunStep::Client;
};
struct FileListRequested {
    RunStep step = RunStep::Client;
};
struct StepFinished {};   // the step's files are in place
struct TransfersDone {};  // the run's last transfer is over: nothing is left to pause
struct NoProfileSelected {};
struct LauncherUpdated {};  // the launcher's program changed; it starts again
struct VerifyFinished {
    std::size_t examined = 0;
    std::size_t repaired = 0;
};
struct GameStarting {
    bool isGame = true;  // false: the profile's own program
};
struct RunFinishing {};        // all done; the window ends after a short pause
struct RunEnded {};            // the window ends (and the launcher with it)
struct RunAborted {};          // a failure ended the run; the window is usable again
struct RunStoppedByPlayer {};  // the stop button ended the run
struct RunPaused {};
struct RunResumed {};

// ---- files and bytes
// Before the transfers, while the listed files are examined: file `index` of `count`.
struct ListProgress {
    std::size_t index = 0;
    std::size_t count = 0;
};
// The engine examines a listed file that differs from the repository's.
struct FileExamined {
    std::string repoPath;
};
// The transfers begin. `carried`: bytes the step brought before a pause, counted in `total`.
struct TransfersStarted {
    std::uint64_t carried = 0;
    std::uint64_t total = 0;
};
// Bytes of the transfers so far, out of the total (both with the carried ones).
struct TransferProgressed {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};
// Bytes a second measured over the last interval; 0 before there was time to measure.
struct TransferRate {
    std::uint64_t bytesPerSecond = 0;
};
// The first bytes of a file arrive; `replacesExisting`: a file with content was there before.
struct FileFetched {
    std::string repoPath;
    bool replacesExisting = false;
};
struct TransfersEnded {};
// A broken connection is tried again after a pause.
struct ConnectionRetry {
    int attempt = 0;  // 1 for the first retry
    long pauseMs = 0;
};

// ---- the cleanup list (operations_processor.h)
struct CleanupStarted {
    CleanupTarget target = CleanupTarget::Client;
};
struct EntryRemoving {
    std::string shownPath;  // as the list names it
};
struct EntryRefused {
    std::string listedPath;  // as the list names it
};
struct CleanupFinished {};  // at least one entry was removed

// ---- failures; the window shows each and returns once the player has read it
struct TransferFailed {
    PatchException error;
};
struct UnexpectedFailure {
    std::string what;  // the exception's own text
};
struct RightsRepairFailed {};
struct RegistryWriteFailed {
    std::string clientPath;
};
struct GameStartFailed {
    std::string program;
};

using RunEvent = std::variant<
    RunStarted, CountdownTick, CountdownOver, PatchingStarted, StepStarted, FileListRequested,
    StepFinished, TransfersDone, NoProfileSelected, LauncherUpdated, VerifyFinished, GameStarting,
    RunFinishing, RunEnded, RunAborted, RunStoppedByPlayer, RunPaused, RunResumed, ListProgress,
    FileExamined, TransfersStarted, TransferProgressed, TransferRate, FileFetched, TransfersEnded,
    ConnectionRetry, CleanupStarted, EntryRemoving, EntryRefused, CleanupFinished, TransferFailed,
    UnexpectedFailure, RightsRepairFailed, RegistryWriteFailed, GameStartFailed>;

// ---- questions to the player; each is answered yes (true) or no
// The installation folder may not be written: try to correct its rights (elevated)?
struct RepairFolderRights {
    std::string folder;
};
// The cleanup list could not remove an entry: go on without the cleanup?
struct SkipFailedCleanup {
    OperationsProcessorException error;
};
// The profile wants the registry entry, which needs administrator rights: restart elevated?
struct RestartElevatedForRegistry {};

using RunQuestion = std::variant<RepairFolderRights, SkipFailedCleanup, RestartElevatedForRegistry>;

}  // namespace veldmoor
