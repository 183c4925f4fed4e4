// What a patch run asks of the operating system: folder rights, elevation, the game's registry
// entry, starting programs and ending the launcher. SystemPatchPlatform does it for real; tests
// record the requests instead, so a restart or an elevated start is observed, not executed.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "system/result.h"

namespace veldmoor {

class PatchPlatform {
public:
    virtual ~PatchPlatform() = default;

    // Whether this process may read, write and enter folder.
    virtual bool HasFolderAccess(const std::string& folder) = 0;

    enum class ElevatedRun { NotStarted, Finished, TimedOut };
    // Starts the launcher's own program elevated with arguments and waits for it at most timeout.
    virtual ElevatedRun RunElevatedAndWait(const std::vector<std::string>& arguments,
                                           std::chrono::milliseconds timeout) = 0;
    // The same, and gives up waiting (TimedOut) as soon as stopRequested answers true: a run
    // asked to end must not hold the closing launcher for the whole timeout. The elevated
    // program goes on by itself. By default the wait is not cut short.
    virtual ElevatedRun RunElevatedAndWaitUnlessStopped(
        const std::vector<std::string>& arguments, std::chrono::milliseconds timeout,
        const std::function<bool()>& stopRequested) {
        static_cast<void>(stopRequested);
        return RunElevatedAndWait(arguments, timeout);
    }
    // Starts the launcher's own program elevated without waiting; false when it did not start.
    virtual bool RunElevated(const std::vector<std::string>& arguments) = 0;
    virtual bool IsElevated() = 0;

    // Whether WriteExePath needs administrator rights (on Linux it does not: the entry lives in
    // the desktop user's own Wine prefix).
    virtual bool RegistryWriteNeedsElevation() = 0;
    // The game's ExePath registry value; std::nullopt when it is missing or unreadable.
    virtual std::optional<std::string> ReadExePath() = 0;
    virtual Status WriteExePath(const std::string& clientPath) = 0;

    // Starts the program the profile names as the desktop user in workingDirectory, not waiting
    // for it; false when it could not be started.
    virtual bool StartProgram(const std::string& program, const std::string& workingDirectory) = 0;
    // Starts the installed launcher again (after its own update); false when it did not start.
    virtual bool StartLauncher(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::string& workingDirectory) = 0;

    // Ends the launcher process at once with exitCode. A test platform records it and returns;
    // the run then ends without another step.
    virtual void EndProcess(int exitCode) = 0;
};

}  // namespace veldmoor
