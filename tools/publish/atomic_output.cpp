#include "tools/publish/atomic_output.h"

#include <stdexcept>

namespace veldmoor {

AtomicOutput::AtomicOutput(std::string target) : target_(std::move(target)) {
    FileProblem problem = FileProblem::None;
    std::string error;
    file_ = NewFile::CreateBeside(target_, problem, error);
    if (!file_) {
        throw std::runtime_error(error + " (is the repository folder writable?)");
    }
}

void AtomicOutput::finish() {
    if (!file_->Flush()) {
        throw std::runtime_error("writing '" + file_->Path() + "' failed: " + file_->Error() +
                                 " (is the disk full?)");
    }
}

void AtomicOutput::commit() {
    finish();
    if (!file_->MoveOver(target_)) {
        throw std::runtime_error("cannot move '" + file_->Path() + "' to '" + target_ +
                                 "': " + file_->Error());
    }
}

}  // namespace veldmoor
