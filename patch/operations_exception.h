// The cleanup list's failure: raised while removing the files and folders that operations.txt
// names, reported to the window, which asks the player the cleanup question (ui/report_texts.h).
// A sibling of PatchException (sync/patch_exception.h): a handler for one never catches the other.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace veldmoor {

class OperationsProcessorException : public std::exception {
public:
    using Params = std::map<std::string, std::uint32_t>;

    // code: 0 a file cannot be deleted, 1 a folder cannot be removed.
    // detail: the entry's path as the status text showed it (relative to the cleanup target).
    OperationsProcessorException(int code, std::string detail, std::string message)
        : message_(std::move(message)), code(code), detail(std::move(detail)) {}

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;  // English diagnostic, never shown to the player

public:
    int category = 0;  // always 0 (local file system)
    int code;
    std::string detail;
    Params params;  // always empty; kept so both report paths read the same fields
};

}  // namespace veldmoor
