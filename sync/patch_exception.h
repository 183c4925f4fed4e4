// The engine's failure: raised by the file list, the chunk index, the rebuild of a file and
// the repository driver; turned into the German transfer report by the patch run.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>

namespace veldmoor {

// category: 0 local file system, 1 transfer, 2 server data in the wrong form, 3 integrity.
class PatchException : public std::exception {
public:
    using Params = std::map<std::string, std::uint32_t>;

    PatchException(int category, int code, std::string detail, std::string message,
                   Params params = {})
        : message_(std::move(message)),
          category(category),
          code(code),
          detail(std::move(detail)),
          params(std::move(params)) {}

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;  // English diagnostic, never shown to the player

public:
    int category;
    int code;
    std::string detail;  // the path the failure concerns, or empty
    Params params;       // extra numbers ("FileChecksum", "ExpectedChecksum")
};

// Raised out of the engine when the caller asked it to stop (see RepoSync::setStopRequest).
// Not a failure: the run ends quietly, every file touched so far is either complete or untouched.
class SyncCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "synchronisation cancelled"; }
};

}  // namespace veldmoor
