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

// Why a path was refused or its folder could not be made: the "Reason" parameter of category
// 0, code 2, so that the report can say it in the player's language.
enum class PathRefusal : std::uint32_t {
    None = 0,
    Empty = 1,
    Rooted = 2,           // starts at the root of a drive
    NulByte = 3,          // would end the name early
    Drive = 4,            // "C:x"
    ParentComponent = 5,  // a ".." component
    TooDeep = 6,          // more folder levels than the engine makes
    FileInTheWay = 7,     // a file stands where a folder belongs
    CannotCreate = 8,     // the system refused to make a folder
    FolderName = 9,       // ends in a separator: names a folder, not a file
};

// Further codes of the engine's failures, beyond those of the original catalogue (0 to 8).
inline constexpr int kCodeNoSpace = 9;               // category 0; params "NeededBytes"
inline constexpr int kCodeFolderBusy = 10;           // category 0; detail: the folder
inline constexpr int kCodeFolderInPlaceOfFile = 11;  // category 0; detail: the listed path

// Raised out of the engine when the caller asked it to stop (see RepoSync::setStopRequest).
// Not a failure: the run ends quietly, every file touched so far is either complete or untouched.
class SyncCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "synchronisation cancelled"; }
};

}  // namespace veldmoor
