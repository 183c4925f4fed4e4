#include "system/atomic_file.h"

#include <memory>

#include "system/new_file.h"

namespace veldmoor {

Status ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
    Result<std::unique_ptr<NewFile>> file = NewFile::CreateBeside(path);
    Status done = file ? Status() : file.Error();
    if (done) {
        file.Value()->Stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.Value()->TakePermissionsOf(path);
        done = file.Value()->MoveOver(path);
    }
    if (!done) {
        return Status::Failed("cannot replace '" + path + "': " + done.Message(), done.Cause());
    }
    return {};
}

}  // namespace veldmoor
