// Keeps two programs from rewriting the same folder at once, such as two publishes into one
// repository. The lock is advisory: it stops only programs that ask for it. The system drops it
// when its holder ends, however it ends, so a crashed run never leaves the folder locked.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace veldmoor {

class FolderLock {
public:
    enum class Outcome { Locked, HeldElsewhere, Failed };

    // Takes the lock on an existing folder without waiting. On HeldElsewhere or Failed the
    // result is empty; `error` then says what went wrong.
    static std::unique_ptr<FolderLock> TryLock(const std::string& folder, Outcome& outcome,
                                               std::string& error);

    // Like TryLock, but while another holder has the lock it tries again for up to `wait`,
    // giving up early (HeldElsewhere) as soon as `giveUp` (may be empty) says so.
    static std::unique_ptr<FolderLock> Lock(const std::string& folder,
                                            std::chrono::milliseconds wait,
                                            const std::function<bool()>& giveUp, Outcome& outcome,
                                            std::string& error);

    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    // The system's handle of the open folder: a descriptor, or a Windows HANDLE.
    explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = -1;
};

}  // namespace veldmoor
