// Administrator rights: whether the launcher has them, and starting the launcher's own program
// with them. On Linux "elevated" means running as root; the elevated start goes through pkexec,
// which asks the person for their password and passes PKEXEC_UID on, so the elevated launcher
// knows whose desktop it serves (see process_launch.h). On Windows it means an elevated token
// in the Administrators group; the elevated start goes through the shell's "runas" verb, whose
// consent prompt a person can decline.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veldmoor {

bool IsElevated();

// A started process that can be waited for. A process that was not waited for to its end is
// reaped in the background when the handle goes, so it never lingers as a zombie.
class ProcessHandle {
public:
    // On POSIX the process must be a child of this one. On Windows systemHandle is a process
    // HANDLE with the right to wait, which this object takes over and closes; without one the
    // process is opened by its id.
    explicit ProcessHandle(int processId, std::intptr_t systemHandle = 0);
    ~ProcessHandle();
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;

    // True when the process ended within timeout; ExitCode() is then valid.
    bool WaitFor(std::chrono::milliseconds timeout);
    // The exit status, or 128 + the signal that ended it (POSIX); the exit code (Windows).
    int ExitCode() const { return exitCode_; }
    int Id() const { return processId_; }

private:
    int processId_;
    std::intptr_t systemHandle_ = 0;
    bool reaped_ = false;
    int exitCode_ = -1;
};

// pkexec's exit codes when the person dismissed the password question or failed it. (A declined
// consent prompt on Windows is a start that failed.)
inline constexpr int kElevationDeclined = 126;
inline constexpr int kElevationNotAuthorised = 127;

struct ElevatedStart {
    bool started = false;  // false: pkexec or the program file is missing, the prompt declined
    std::unique_ptr<ProcessHandle> process;  // only when asked for
};

// Starts the launcher's own program file elevated with arguments, in the current directory
// and (POSIX) with the current display, so a window of the elevated launcher can open.
// Whether the person agreed shows only in the exit code (kElevationDeclined,
// kElevationNotAuthorised), so a caller that needs to know asks for the handle.
ElevatedStart RunElevated(const std::vector<std::string>& arguments, bool wantHandle);

// Full path of an executable found on PATH (on Windows also with the extensions of PATHEXT);
// empty when there is none.
std::string FindOnPath(const std::string& name);

}  // namespace veldmoor
