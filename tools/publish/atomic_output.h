// Writing a repository file so that the web server never hands out half of it: the project's
// one atomic write (system/new_file.h), failing with exceptions as the publisher does.
#pragma once

#include <memory>
#include <string>

#include "system/new_file.h"

namespace veldmoor {

// Writes to a file of its own beside the target and moves it over the target, forced to the
// drive, when complete. A file that was never committed is removed when the object dies.
class AtomicOutput {
public:
    // Throws std::runtime_error when the temporary file cannot be created.
    explicit AtomicOutput(std::string target);
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    void write(const char* data, std::size_t length) {
        file_->Stream().write(data, static_cast<std::streamsize>(length));
    }
    // Completes the temporary file; every write failure shows here, before anything moves.
    void finish();
    // Moves the completed file over the target. Throws std::runtime_error on failure.
    void commit();

private:
    std::string target_;
    std::unique_ptr<NewFile> file_;
};

}  // namespace veldmoor
