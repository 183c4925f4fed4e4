// Stopping a publish cooperatively: the run polls a check between blocks and files, and a stop
// unwinds the stack, so that every temporary file it had open is removed on the way out.
#pragma once

#include <functional>
#include <stdexcept>

namespace veldmoor {

// True once the run should stop; an empty check never stops.
using PublishStopCheck = std::function<bool()>;

// Thrown when the run stopped as asked; the text says in what state it left the repository.
class PublishStopped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline void ThrowIfStopped(const PublishStopCheck& stop) {
    if (stop && stop()) {
        throw PublishStopped("stopped");
    }
}

}  // namespace veldmoor
