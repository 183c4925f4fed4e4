#include "tools/publish/atomic_output.h"

#include <stdexcept>

namespace veldmoor {

AtomicOutput::AtomicOutput(std::string target) : target_(std::move(target)) {
    Result<std::unique_ptr<NewFile>> created = NewFile::CreateBeside(target_);
    if (!created) {
        throw std::runtime_error(created.Message() + " (is the repository folder writable?)");
    }
    file_ = std::move(created).Value();
}

void AtomicOutput::finish() {
    if (const Status flushed = file_->Flush(); !flushed) {
        throw std::runtime_error("writing '" + file_->Path() + "' failed: " + flushed.Message() +
                                 " (is the disk full?)");
    }
}

void AtomicOutput::commit() {
    finish();
    if (const Status moved = file_->MoveOver(target_); !moved) {
        throw std::runtime_error("cannot move '" + file_->Path() + "' to '" + target_ +
                                 "': " + moved.Message());
    }
}

}  // namespace veldmoor
