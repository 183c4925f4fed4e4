// Starting a program that outlives the starting process, as the launcher starts its temporary
// copy and ends at once.
#pragma once

#include <string>
#include <vector>

namespace veldmoor {

// Starts program with exactly these arguments (not counting the program name) in
// workingDirectory (the current one when empty), in a session of its own so that it keeps
// running when the starter ends. The new process is not waited for. False when it cannot be
// started (missing file, not executable, working directory gone).
bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& workingDirectory);

}  // namespace veldmoor
