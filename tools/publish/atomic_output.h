// Writing a repository file so that the web server never hands out half of it: the project's
// one atomic write (system/new_file.h), with messages that say what to check.
#pragma once

#include <memory>
#include <string>

#include "system/new_file.h"
#include "system/result.h"

namespace veldmoor {

// Writes to a file of its own beside the target and moves it over the target, forced to the
// drive, when complete. A file that was never committed is removed when the object dies.
class AtomicOutput {
public:
    // Fails when the temporary file cannot be created.
    static Result<AtomicOutput> Create(std::string target);

    void write(const char* data, std::size_t length) {
        file_->Stream().write(data, static_cast<std::streamsize>(length));
    }
    // Completes the temporary file; every write failure shows here, before anything moves.
    Status finish();
    // Completes the file and moves it over the target.
    Status commit();

private:
    AtomicOutput(std::string target, std::unique_ptr<NewFile> file)
        : target_(std::move(target)), file_(std::move(file)) {}

    std::string target_;
    std::unique_ptr<NewFile> file_;
};

}  // namespace veldmoor
