// Keeps two programs from rewriting the same folder at once, such as two publishes into one
// repository. The lock is advisory: it stops only programs that ask for it. The system drops it
// when its holder ends, however it ends, so a crashed run never leaves the folder locked.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "system/result.h"

namespace veldmoor {

class FolderLock {
public:
    // Takes the lock on an existing folder without waiting. Fault::HeldElsewhere when another
    // holder has it; the message says what went wrong.
    static Result<std::unique_ptr<FolderLock>> TryLock(const std::string& folder);

    // Like TryLock, but while another holder has the lock it tries again for up to `wait`,
    // giving up early (HeldElsewhere) as soon as `giveUp` (may be empty) says so.
    static Result<std::unique_ptr<FolderLock>> Lock(const std::string& folder,
                                                    std::chrono::milliseconds wait,
                                                    const std::function<bool()>& giveUp);

    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    // The system's handle of the open folder: a descriptor, or a Windows HANDLE.
    explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = -1;
};

}  // namespace veldmoor
