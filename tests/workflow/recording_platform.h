// A PatchPlatform for tests: folder rights, elevation and the registry answer as configured,
// and every start, elevated run and process end is recorded instead of happening. Program
// starts can be made real (StartDeElevated) for the game-start test.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "patch/patch_platform.h"
#include "system/process_launch.h"

namespace veldmoor::testing {

class RecordingPlatform : public PatchPlatform {
public:
    struct Start {
        std::string program;
        std::vector<std::string> arguments;
        std::string workingDirectory;
    };

    // Answers.
    bool folderAccess = true;
    bool folderAccessAfterRepair = true;
    ElevatedRun repairOutcome = ElevatedRun::Finished;
    bool elevated = false;
    // As on Windows; the Linux platform writes the person's own registry without rights.
    bool registryNeedsElevation = true;
    bool registryWritesSucceed = true;
    std::optional<std::string> exePath;
    bool startsSucceed = true;
    bool realProgramStarts = false;

    // Records.
    std::vector<std::vector<std::string>> elevatedRuns;  // with or without waiting
    std::vector<std::chrono::milliseconds> elevatedWaits;
    std::vector<std::string> writtenExePaths;
    std::vector<Start> programStarts;
    std::vector<Start> launcherStarts;
    std::vector<int> endProcessCodes;
    int accessChecks = 0;

    bool HasFolderAccess(const std::string& /*folder*/) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++accessChecks;
        return repaired_ ? folderAccessAfterRepair : folderAccess;
    }
    ElevatedRun RunElevatedAndWait(const std::vector<std::string>& arguments,
                                   std::chrono::milliseconds timeout) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        elevatedRuns.push_back(arguments);
        elevatedWaits.push_back(timeout);
        repaired_ = true;
        return repairOutcome;
    }
    bool RunElevated(const std::vector<std::string>& arguments) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        elevatedRuns.push_back(arguments);
        return startsSucceed;
    }
    bool IsElevated() override { return elevated; }
    bool RegistryWriteNeedsElevation() override { return registryNeedsElevation; }
    std::optional<std::string> ReadExePath() override { return exePath; }
    Status WriteExePath(const std::string& clientPath) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        writtenExePaths.push_back(clientPath);
        return registryWritesSucceed ? Status() : Status::Failed("the registry write fails");
    }
    bool StartProgram(const std::string& program, const std::string& workingDirectory) override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            programStarts.push_back(Start{program, {}, workingDirectory});
        }
        if (realProgramStarts)
            return StartDeElevated(program, workingDirectory);
        return startsSucceed;
    }
    bool StartLauncher(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& workingDirectory) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        launcherStarts.push_back(Start{program, arguments, workingDirectory});
        return startsSucceed;
    }
    void EndProcess(int exitCode) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        endProcessCodes.push_back(exitCode);
    }

private:
    std::mutex mutex_;
    bool repaired_ = false;
};

}  // namespace veldmoor::testing
