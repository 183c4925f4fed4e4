#include "tools/publish/atomic_output.h"

namespace veldmoor {

Result<AtomicOutput> AtomicOutput::Create(std::string target) {
    Result<std::unique_ptr<NewFile>> created = NewFile::CreateBeside(target);
    if (!created) {
        return Status::Failed(created.Message() + " (is the repository folder writable?)",
                              created.Cause());
    }
    return AtomicOutput(std::move(target), std::move(created).Value());
}

Status AtomicOutput::finish() {
    if (const Status flushed = file_->Flush(); !flushed) {
        return Status::Failed(
            "writing '" + file_->Path() + "' failed: " + flushed.Message() + " (is the disk full?)",
            flushed.Cause());
    }
    return {};
}

Status AtomicOutput::commit() {
    if (Status finished = finish(); !finished) {
        return finished;
    }
    if (const Status moved = file_->MoveOver(target_); !moved) {
        return Status::Failed(
            "cannot move '" + file_->Path() + "' to '" + target_ + "': " + moved.Message(),
            moved.Cause());
    }
    return {};
}

}  // namespace veldmoor
