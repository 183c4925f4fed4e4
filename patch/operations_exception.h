// The cleanup list's failure: raised while removing the files and folders that operations.txt
// names, reported to the window, which asks the player the cleanup question (ui/report_texts.h).
// A sibling of PatchException (sync/patch_exception.h): a handler for one never catches the other.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace veldmoor {

// Each way the cleanup fails. The value is the code the cleanup report shows after its
// category, 0: the numbers never change.
enum class CleanupFailure : int {
    FileNotDeleted = 0,
    FolderNotRemoved = 1,
};

class OperationsProcessorException : public std::exception {
public:
    // detail: the entry's path as the status text showed it (relative to the cleanup target).
    OperationsProcessorException(CleanupFailure cause, std::string detail, std::string message)
        : message_(std::move(message)), code(static_cast<int>(cause)), detail(std::move(detail)) {}

    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;  // English diagnostic, never shown to the player

public:
    int category = 0;  // the local file system, as PatchException's FailureCategory::LocalFiles
    int code;          // a CleanupFailure
    std::string detail;
};

}  // namespace veldmoor
