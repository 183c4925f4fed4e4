#include "patch/patch_run.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <utility>
#include <variant>
#include <vector>

#include "patch/game_start.h"
#include "patch/launcher_digest.h"
#include "patch/operations_exception.h"
#include "patch/transfer_progress.h"
#include "profiles/addresses.h"
#include "profiles/trust_roots.h"
#include "sync/http.h"
#include "sync/patch_exception.h"
#include "sync/repo_sync.h"
#include "sync/trace.h"
#include "system/folders.h"
#include "system/launcher_file.h"
#include "system/path.h"
#include "system/product.h"
#include "system/text_encoding.h"

namespace veldmoor {

namespace fs = std::filesystem;

namespace {

constexpr char kTrustStateFolderName[] = "trust";

bool IsReadableFile(const std::string& path) {
    const std::ifstream file(PathFromUtf8(path), std::ios::binary);
    return file.is_open();
}

bool IsExistingFile(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(PathFromUtf8(path), error);
    return fs::exists(status) && !fs::is_directory(status);
}

}  // namespace

void PatchWorker::Control::RequestStop(bool byPlayer) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (byPlayer && !stop)
            stopByPlayer = true;
        stop = true;
    }
    wake.notify_all();
}

void PatchWorker::Control::RequestPause() {
    const std::lock_guard<std::mutex> lock(mutex);
    pause = true;
}

void PatchWorker::Control::Resume() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        pause = false;
    }
    wake.notify_all();
}

void PatchWorker::Control::Wake() {
    { const std::lock_guard<std::mutex> lock(mutex); }
    wake.notify_all();
}

std::unordered_set<std::string> ReadExclusionList(const std::string& launcherFolder) {
    std::ifstream list(PathFromUtf8(AppendPathComponent(launcherFolder, kExclusionFileName)));
    return ParseExclusionList(list);
}

std::unordered_set<std::string> ParseExclusionList(std::istream& list) {
    std::unordered_set<std::string> excluded;
    std::string line;
    while (std::getline(list, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            excluded.insert(line);
    }
    return excluded;
}

PatchRun::PatchRun(LauncherView& view, PatchPlatform& platform, const PatchRunSeams& seams,
                   PatchRunRequest request, PatchWorker::Control& control, CountdownState countdown)
    : view_(view),
      platform_(platform),
      seams_(seams),
      request_(std::move(request)),
      control_(control),
      countdown_(countdown),
      ticks_(seams.ticks ? seams.ticks : TickSource(SystemTickCount)),
      remover_(seams.remover != nullptr ? *seams.remover : FileSystemRemover()) {
    if (request_.launcherFolder.empty())
        request_.launcherFolder = CurrentDirectory();
    if (request_.launcherRepoAddress.empty()) {
        request_.launcherRepoAddress = AdjustScheme(LauncherRepoAddress());
    }
    trustStateFolder_ = AppendPathComponent(
        request_.profilesFolder.empty() ? CurrentDirectory() : request_.profilesFolder,
        kTrustStateFolderName);
}

void PatchRun::Execute() {
    RunSteps();
    // The stop button returns the window to a usable state and says what became of the run; a
    // stop because the window closes or another run begins says nothing.
    if (patchingLayout_ && control_.stopByPlayer) {
        patchingLayout_ = false;
        view_.Report(RunStoppedByPlayer{});
    }
}

void PatchRun::EnterPatchingLayout() {
    view_.Report(PatchingStarted{});
    patchingLayout_ = true;
}

void PatchRun::RunSteps() {
    view_.Report(RunStarted{});
    if (request_.countdownSeconds > 0 && !Countdown())
        return;
    if (Stopped())
        return;

    try {
        EnterPatchingLayout();
        SaveProfiles();

        if (!request_.noSelfPatch && !request_.verifyContent) {
            const StepResult launcher = UpdateLauncher();
            if (launcher == StepResult::Failed)
                return Abort();
            if (launcher != StepResult::Done || Stopped())
                return;
            if (CleanupStep(true) != StepResult::Done || Stopped())
                return;
        }

        if (!request_.profile) {
            view_.Report(NoProfileSelected{});
            return Abort();
        }
        const PatchContext& profile = *request_.profile;
        if (request_.verifyContent) {
            if (VerifyGameFiles(profile) == StepResult::Failed)
                Abort();
            return;
        }
        FileCounts counts;
        const StepResult client = UpdateClient(profile, counts);
        if (client == StepResult::Failed)
            return Abort();
        if (client != StepResult::Done || Stopped())
            return;
        view_.Report(TransfersDone{});
        if (CleanupStep(false) != StepResult::Done || Stopped())
            return;

        if (profile.SetRegistryPath) {
            const RegistryStep registry =
                ApplyRegistryPath(profile, view_, platform_, [this] { SaveProfiles(); });
            if (registry == RegistryStep::Declined)
                return Abort();
            if (registry == RegistryStep::ProcessEnding || Stopped())
                return;
        }

        StartGame(profile, view_, platform_);
        Close();
    } catch (const std::exception& failure) {
        // Anything the steps do not report themselves (a malformed file list entry, exhausted
        // memory): tell the person what happened and leave the dialog usable.
        view_.Report(UnexpectedFailure{failure.what()});
        Abort();
    }
}

bool PatchRun::Countdown() {
    // cancelCountdown was reset when the run was started (PatchWorker::Start), not here: a
    // reset on this thread could wipe out a "call off" the dialog gave in the meantime.
    const std::lock_guard<std::mutex> countdownLock(CountdownLock());
    bool calledOff = false;
    for (int i = 0; i < request_.countdownSeconds; ++i) {
        if (countdown_.cancelCountdown != 0 || Stopped()) {
            calledOff = true;
            break;
        }
        view_.Report(CountdownTick{request_.countdownSeconds - i});
        Pause(std::chrono::milliseconds(1000), true);
    }
    if (countdown_.cancelCountdown != 0 || Stopped())
        calledOff = true;
    view_.Report(CountdownOver{});
    return !calledOff;
}

void PatchRun::ConnectSync(RepoSync& sync) {
    // A pause ends the engine's work as a stop does: it keeps what came for the next start.
    sync.setStopRequest([this] { return Stopped() || control_.PauseRequested(); });
    // A connection that broke and is tried again is worth a line: a run that waits on a retry
    // would otherwise look stuck.
    HttpSettings http = HttpSettings::fromEnvironment();
    http.onRetry = [this](const RetryNotice& retry) {
        view_.Report(ConnectionRetry{retry.attempt, retry.pauseMs});
    };
    sync.setHttpSettings(http);
}

void PatchRun::ConfigureTrust(RepoSync& sync, const std::string& address,
                              Result<std::string> root) {
    if (!root) {
        // A run that was meant to be checked must not go on unchecked: the run's last resort
        // tells the person why.
        throw std::runtime_error(root.Message());
    }
    if (root.Value().empty()) {
        trace("%s is not verified: no root of trust is configured for it\n", address.c_str());
        return;
    }
    sync.setTrust(RepoSync::Trust{std::move(root).Value(), trustStateFolder_, {}});
}

void PatchRun::ListAndPrepare(RepoSync& sync, const std::unordered_set<std::string>* excluded,
                              FileCounts& counts) {
    const std::vector<RemoteFile> files = sync.listFiles();
    // The engine may call it as late as the transfers begin: it holds nothing of this frame.
    const FileCheckCallback onCheck = [&counts, &view = view_](const std::string& path) {
        ++counts.differing;
        view.Report(FileExamined{path});
    };
    // A stop (or a pause) is seen by prepareFile, which then keeps what came of the files begun.
    for (std::size_t i = 0; i < files.size(); ++i) {
        // After a pause the bar stays where the transfers left it.
        if (carriedBytes_ == 0)
            view_.Report(ListProgress{i, files.size()});
        const RemoteFile& file = files[i];
        // A listed local file the player keeps (uo.cfg present) is neither examined nor fetched.
        if (excluded != nullptr && excluded->count(file.repoPath) != 0 &&
            IsExistingFile(file.localPath)) {
            continue;
        }
        ++counts.examined;
        sync.prepareFile(file, onCheck);
    }
}

// Runs one repository's synchronisation: an engine failure is reported and fails the step, a
// stop request ends it quietly, a pause holds the run and then starts the synchronisation again.
PatchRun::StepResult PatchRun::GuardedSync(const std::function<void()>& synchronise) {
    carriedBytes_ = 0;
    for (;;) {
        try {
            synchronise();
            return StepResult::Done;
        } catch (const PatchException& failure) {
            view_.Report(TransferFailed{failure});
            return StepResult::Failed;
        } catch (const SyncCancelled&) {
            // Only a stop or a pause ends the engine early; the engine, its folder lock and
            // its connections are gone by now.
            if (Stopped() || !HoldWhilePaused())
                return StepResult::Stopped;
        }
    }
}

bool PatchRun::HoldWhilePaused() {
    view_.Report(RunPaused{});
    {
        std::unique_lock<std::mutex> lock(control_.mutex);
        control_.wake.wait(
            lock, [this] { return control_.StopRequested() || !control_.PauseRequested(); });
    }
    if (Stopped())
        return false;
    view_.Report(RunResumed{});
    return true;
}

PatchRun::StepResult PatchRun::UpdateLauncher() {
    view_.Report(StepStarted{RunStep::Launcher});
    const std::string& root = request_.launcherFolder;
    const std::string before = ComputeLauncherDigest(root);
    const StepResult synced = GuardedSync([&] {
        RepoSync sync(root, request_.launcherRepoAddress);
        ConnectSync(sync);
        ConfigureTrust(sync, request_.launcherRepoAddress, BuiltInTrustRoot());
        view_.Report(FileListRequested{RunStep::Launcher});
        FileCounts counts;
        ListAndPrepare(sync, nullptr, counts);
        RunTransfers(view_, sync, root, ticks_, carriedBytes_);
        view_.Report(StepFinished{});
        if (const Manifest* manifest = sync.verifiedManifest()) {
            const auto entry = std::find_if(
                manifest->files.begin(), manifest->files.end(),
                [](const ManifestEntry& file) { return file.path == kOperationsFileName; });
            signedCleanupList_.emplace(entry != manifest->files.end()
                                           ? std::optional<ManifestEntry>(*entry)
                                           : std::nullopt);
        }
    });
    if (synced != StepResult::Done)
        return synced;
    if (ComputeLauncherDigest(root) == before)
        return StepResult::Done;

    view_.Report(LauncherUpdated{});
    SaveProfiles();
    Pause(kClosingPause, false);
    if (Stopped())
        return StepResult::Stopped;
    // The process ends whether or not the new launcher started: the old program is outdated.
    platform_.StartLauncher(AppendPathComponent(root, kLauncherFileName), {"-instantpatch"}, root);
    platform_.EndProcess(0);
    return StepResult::ProcessEnding;
}

PatchRun::StepResult PatchRun::EnsureFolderAccess(const std::string& folder) {
    if (platform_.HasFolderAccess(folder))
        return StepResult::Done;
    if (!view_.Ask(RepairFolderRights{folder}))
        return StepResult::Failed;

    const PatchPlatform::ElevatedRun repair = platform_.RunElevatedAndWaitUnlessStopped(
        {"-repair", folder, "-rrights"}, kRightsRepairTimeout, [this] { return Stopped(); });
    if (Stopped())
        return StepResult::Stopped;
    if (repair == PatchPlatform::ElevatedRun::NotStarted)
        return StepResult::Failed;
    if (repair == PatchPlatform::ElevatedRun::TimedOut || !platform_.HasFolderAccess(folder)) {
        view_.Report(RightsRepairFailed{});
        return StepResult::Failed;
    }
    return StepResult::Done;
}

PatchRun::StepResult PatchRun::UpdateClient(const PatchContext& profile, FileCounts& counts) {
    const RunStep step = request_.verifyContent ? RunStep::Verify : RunStep::Client;
    view_.Report(StepStarted{step});
    const std::string& folder = profile.PatchPath.str();
    // A fresh installation's folder may not exist yet; its rights can only be judged once it does.
    std::error_code ignored;
    if (!folder.empty())
        fs::create_directories(PathFromUtf8(folder), ignored);
    const StepResult access = EnsureFolderAccess(folder);
    if (access != StepResult::Done)
        return access;

    const bool hasConfig = IsReadableFile(AppendPathComponent(folder, kGameSettingsFileName));
    return GuardedSync([&] {
        counts = FileCounts{};  // counted again when a pause starts the step over
        RepoSync sync(folder, profile.RepoPath.str());
        ConnectSync(sync);
        ConfigureTrust(sync, profile.RepoPath.str(),
                       TrustRootForGameRepository(profile.RepoPath.str()));
        sync.setVerifyContent(request_.verifyContent);
        view_.Report(FileListRequested{step});
        const std::unordered_set<std::string> excluded =
            hasConfig ? ReadExclusionList(request_.launcherFolder)
                      : std::unordered_set<std::string>();
        ListAndPrepare(sync, &excluded, counts);
        RunTransfers(view_, sync, folder, ticks_, carriedBytes_);
        view_.Report(StepFinished{});
    });
}

PatchRun::StepResult PatchRun::VerifyGameFiles(const PatchContext& profile) {
    FileCounts counts;
    const StepResult synced = UpdateClient(profile, counts);
    if (synced != StepResult::Done)
        return synced;
    view_.Report(VerifyFinished{counts.examined, counts.differing});
    patchingLayout_ = false;
    return StepResult::Done;
}

// The cleanup list comes with the launcher's files: when those were verified, the list on disk
// must be the one the manifest names before it may delete anything.
PatchRun::StepResult PatchRun::CheckSignedCleanupList() {
    if (!signedCleanupList_)
        return StepResult::Done;
    const std::string path = AppendPathComponent(request_.launcherFolder, kOperationsFileName);
    if (!IsExistingFile(path))
        return StepResult::Done;
    return GuardedSync([&] {
        if (!*signedCleanupList_) {
            refuseUnverified(TrustCheck::ContentMismatch, kOperationsFileName,
                             path + " is not named by the launcher repository's manifest");
        }
        checkSignedFile(path, **signedCleanupList_);
    });
}

PatchRun::StepResult PatchRun::CleanupStep(bool launcherPart) {
    if (CheckSignedCleanupList() != StepResult::Done) {
        Abort();
        return StepResult::Failed;
    }
    const CleanupLog log = [this](const CleanupNote& note) {
        std::visit([this](const auto& event) { view_.Report(event); }, note);
    };
    try {
        const bool removed =
            launcherPart ? CleanupLauncherData(request_.launcherFolder, log, remover_)
                         : CleanupGameData(request_.launcherFolder,
                                           request_.profile->PatchPath.str(), log, remover_);
        if (removed)
            view_.Report(CleanupFinished{});
    } catch (const OperationsProcessorException& failure) {
        if (view_.Ask(SkipFailedCleanup{failure}))
            return StepResult::Done;
        Abort();
        return StepResult::Failed;
    }
    return StepResult::Done;
}

void PatchRun::Close() {
    if (Stopped())
        return;
    view_.Report(RunFinishing{});
    SaveProfiles();
    Pause(kClosingPause, false);
    if (Stopped())
        return;
    view_.Report(RunEnded{});
}

void PatchRun::Abort() {
    patchingLayout_ = false;
    view_.Report(RunAborted{});
}

void PatchRun::SaveProfiles() {
    if (request_.saveProfiles)
        request_.saveProfiles();
}

void PatchRun::Pause(std::chrono::milliseconds duration, bool countdown) {
    if (seams_.sleep) {
        seams_.sleep(duration);
        return;
    }
    std::unique_lock<std::mutex> lock(control_.mutex);
    control_.wake.wait_for(lock, duration, [&] {
        return control_.StopRequested() || (countdown && countdown_.cancelCountdown != 0);
    });
}

}  // namespace veldmoor
