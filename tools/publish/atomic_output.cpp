#include "tools/publish/atomic_output.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace veldmoor {

namespace fs = std::filesystem;

AtomicOutput::AtomicOutput(std::string target)
    : target_(std::move(target)), temporary_(target_ + ".publishing") {
    out_.open(fs::path(temporary_), std::ios::binary | std::ios::trunc);
    if (!out_) {
        throw std::runtime_error("cannot create '" + temporary_ +
                                 "' (is the repository folder writable?)");
    }
}

AtomicOutput::~AtomicOutput() {
    if (!committed_) {
        out_.close();
        std::error_code ignored;
        fs::remove(fs::path(temporary_), ignored);
    }
}

void AtomicOutput::finish() {
    if (finished_) {
        return;
    }
    out_.close();
    finished_ = true;
    if (!out_) {
        throw std::runtime_error("writing '" + temporary_ + "' failed (is the disk full?)");
    }
}

void AtomicOutput::commit() {
    finish();
    std::error_code error;
    fs::rename(fs::path(temporary_), fs::path(target_), error);
    if (error) {
        throw std::runtime_error("cannot move '" + temporary_ + "' to '" + target_ +
                                 "': " + error.message());
    }
    committed_ = true;
}

}  // namespace veldmoor
