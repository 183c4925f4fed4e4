// Stopping a publish cooperatively: the run polls a check between blocks and files, and a stop
// travels back up as a failed Status with Fault::Stopped, the way any other failure does, so
// that every temporary file it had open is removed on the way out.
#pragma once

#include <functional>

#include "system/result.h"

namespace veldmoor {

// True once the run should stop; an empty check never stops.
using PublishStopCheck = std::function<bool()>;

inline bool StopAsked(const PublishStopCheck& stop) {
    return stop && stop();
}

// What a level of the run returns once StopAsked holds; PublishRepository replaces the text
// with the state it left the repository in.
inline Status Stopped() {
    return Status::Failed("stopped", Fault::Stopped);
}

}  // namespace veldmoor
