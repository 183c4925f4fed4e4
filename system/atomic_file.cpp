#include "system/atomic_file.h"

#include <memory>

#include "system/new_file.h"

namespace veldmoor {

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
    FileProblem problem = FileProblem::None;
    std::string why;
    const std::unique_ptr<NewFile> file = NewFile::CreateBeside(path, problem, why);
    bool done = file != nullptr;
    if (done) {
        file->Stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file->TakePermissionsOf(path);
        done = file->MoveOver(path);
        why = file->Error();
    }
    if (!done && error != nullptr) {
        *error = "cannot replace '" + path + "': " + why;
    }
    return done;
}

}  // namespace veldmoor
