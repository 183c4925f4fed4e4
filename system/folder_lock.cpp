#include "system/folder_lock.h"

#include <thread>

namespace veldmoor {

Result<std::unique_ptr<FolderLock>> FolderLock::Lock(const std::string& folder,
                                                     std::chrono::milliseconds wait,
                                                     const std::function<bool()>& giveUp) {
    // Neither system's lock can be waited for with a time-out (flock has none; the end of a
    // named object cannot be waited for): it is asked for again at short intervals.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        Result<std::unique_ptr<FolderLock>> lock = TryLock(folder);
        if (lock || lock.Cause() != Fault::HeldElsewhere ||
            std::chrono::steady_clock::now() >= deadline || (giveUp && giveUp())) {
            return lock;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace veldmoor
