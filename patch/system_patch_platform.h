// The PatchPlatform of the real launcher: the operating-system layer of system/.
#pragma once

#include <memory>

#include "patch/patch_platform.h"

namespace veldmoor {

class SystemPatchPlatform : public PatchPlatform {
public:
    bool HasFolderAccess(const std::string& folder) override;
    ElevatedRun RunElevatedAndWait(const std::vector<std::string>& arguments,
                                   std::chrono::milliseconds timeout) override;
    ElevatedRun RunElevatedAndWaitUnlessStopped(
        const std::vector<std::string>& arguments, std::chrono::milliseconds timeout,
        const std::function<bool()>& stopRequested) override;
    bool RunElevated(const std::vector<std::string>& arguments) override;
    bool IsElevated() override;
    bool RegistryWriteNeedsElevation() override;
    std::optional<std::string> ReadExePath() override;
    Status WriteExePath(const std::string& clientPath) override;
    bool StartProgram(const std::string& program, const std::string& workingDirectory) override;
    bool StartLauncher(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& workingDirectory) override;
    void EndProcess(int exitCode) override;
};

}  // namespace veldmoor
