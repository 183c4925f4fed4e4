// The parts of NewFile that are the same on every system: the stream over the write buffer and
// closing early. Each system's new_file.cpp does the rest on its own handle.
#include "system/new_file.h"

#include "system/new_file_buffer.h"

namespace veldmoor {

std::ostream& NewFile::Stream() {
    return *stream_;
}

bool NewFile::Flush() {
    if (!buffer_) {
        return problem_ == FileProblem::None;  // closed: written out then
    }
    stream_->flush();
    return buffer_->WriteOut() && problem_ == FileProblem::None;
}

bool NewFile::Close() {
    if (handle_ == kClosedFile) {
        return problem_ == FileProblem::None;
    }
    if (!Flush()) {
        return false;
    }
    int error = 0;
    if (!ForceToDrive(handle_, error)) {
        Note(error, "cannot force to the drive");
        return false;
    }
    stream_->rdbuf(nullptr);  // later writes fail rather than reach a freed buffer
    buffer_.reset();
    CloseOpenFile(handle_);
    handle_ = kClosedFile;
    return true;
}

}  // namespace veldmoor
