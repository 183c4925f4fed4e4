// The running processes and the program files they were started from, so that start-up can
// tell whether a copy of the launcher still runs from a given file and wait for it to end.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace veldmoor {

struct RunningProcess {
    int id = 0;
    // Full path of the process's main program file; empty when it cannot be read (another
    // user's process, a process that is ending or has ended while it was examined).
    std::string imagePath;
};

// The id of the running process, as ListRunningProcesses reports it.
int CurrentProcessId();

// Every process visible to this one, in the order the system lists them. A process that ends
// while the list is taken is either missing or has an empty image path.
std::vector<RunningProcess> ListRunningProcesses();

// Whether two program file paths name the same file in the way this system compares them
// (both are resolved through symbolic links first where they exist).
bool IsSameProgramFile(const std::string& a, const std::string& b);

// Waits until the process with the given id has ended. True when it has ended (or never
// existed), false when it still runs after the time-out.
bool WaitForProcessExit(int processId, std::chrono::milliseconds timeout);

}  // namespace veldmoor
