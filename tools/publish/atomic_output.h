// Writing a repository file so that the web server never hands out half of it.
#pragma once

#include <fstream>
#include <string>

namespace veldmoor {

// Writes to "<target>.publishing" and renames it over the target when complete. A temporary
// file that was never committed is removed when the object dies.
class AtomicOutput {
public:
    // Throws std::runtime_error when the temporary file cannot be created.
    explicit AtomicOutput(std::string target);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    void write(const char* data, std::size_t length) {
        out_.write(data, static_cast<std::streamsize>(length));
    }
    // Completes the temporary file; every write failure shows here, before anything moves.
    void finish();
    // Moves the completed file over the target. Throws std::runtime_error on failure.
    void commit();

private:
    std::string target_;
    std::string temporary_;
    std::ofstream out_;
    bool finished_ = false;
    bool committed_ = false;
};

}  // namespace veldmoor
