#include "patch/system_patch_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "system/detached_process.h"
#include "system/elevation.h"
#include "system/folder_rights.h"
#include "system/process_launch.h"
#include "system/registry.h"

namespace veldmoor {

bool SystemPatchPlatform::HasFolderAccess(const std::string& folder) {
    return veldmoor::HasFolderAccess(folder, kFolderRead | kFolderWrite | kFolderExecute);
}

namespace {

// How often a wait for the elevated program looks at the stop request.
constexpr std::chrono::milliseconds kStopCheckInterval{100};

}  // namespace

PatchPlatform::ElevatedRun SystemPatchPlatform::RunElevatedAndWait(
    const std::vector<std::string>& arguments, std::chrono::milliseconds timeout) {
    return RunElevatedAndWaitUnlessStopped(arguments, timeout, [] { return false; });
}

PatchPlatform::ElevatedRun SystemPatchPlatform::RunElevatedAndWaitUnlessStopped(
    const std::vector<std::string>& arguments, std::chrono::milliseconds timeout,
    const std::function<bool()>& stopRequested) {
    const ElevatedStart start = veldmoor::RunElevated(arguments, true);
    if (!start.started || !start.process)
        return ElevatedRun::NotStarted;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (start.process->WaitFor(
                std::clamp(left, std::chrono::milliseconds(0), kStopCheckInterval)))
            break;
        if (left <= kStopCheckInterval || stopRequested())
            return ElevatedRun::TimedOut;
    }
    const int code = start.process->ExitCode();
    // The person dismissed or failed the password question: as if it never started.
    if (code == kElevationDeclined || code == kElevationNotAuthorised)
        return ElevatedRun::NotStarted;
    return ElevatedRun::Finished;
}

bool SystemPatchPlatform::RunElevated(const std::vector<std::string>& arguments) {
    return veldmoor::RunElevated(arguments, false).started;
}

bool SystemPatchPlatform::IsElevated() {
    return veldmoor::IsElevated();
}

std::optional<std::string> SystemPatchPlatform::ReadExePath() {
    return veldmoor::ReadExePath();
}

bool SystemPatchPlatform::RegistryWriteNeedsElevation() {
    return veldmoor::RegistryWriteNeedsElevation();
}

Status SystemPatchPlatform::WriteExePath(const std::string& clientPath) {
    return veldmoor::WriteExePath(clientPath);
}

bool SystemPatchPlatform::StartProgram(const std::string& program,
                                       const std::string& workingDirectory) {
    return StartDeElevated(program, workingDirectory);
}

bool SystemPatchPlatform::StartLauncher(const std::string& program,
                                        const std::vector<std::string>& arguments,
                                        const std::string& workingDirectory) {
    return StartDetachedProcess(program, arguments, workingDirectory);
}

void SystemPatchPlatform::EndProcess(int exitCode) {
    // Ends from the worker's thread without running the window's teardown on it; everything the
    // run wrote is closed already, and the profiles were saved just before.
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace veldmoor
