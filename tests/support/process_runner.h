// Runs the project's built programs (and nginx) as real processes, as a person or a script
// would: argument lists without a shell, output captured into a file.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace veldmoor::test {

struct ProgramResult {
    int exitCode = -1;   // -1 when the program could not be started or was killed by a signal
    std::string output;  // standard output and standard error, interleaved
};

// Runs `program` with `arguments` and waits for it. Kills it (by its id) after `timeout`.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::seconds timeout = std::chrono::seconds(120));

// Paths of the built command-line programs.
std::string PublishProgram();
std::string SyncProgram();
std::string ServeProgram();
// The project's source folder (for docs/nginx-repository.conf).
std::string SourceFolder();

// Runs veldmoor-publish SOURCE REPO (plus options) and fails the current test when it fails.
ProgramResult Publish(const std::string& sourceDir, const std::string& repoDir,
                      const std::vector<std::string>& options = {});

}  // namespace veldmoor::test
