// The engine's failure: raised by the file list, the chunk index, the rebuild of a file and
// the repository driver; turned into the German transfer report by the patch run.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace veldmoor {

// Which part of the player's setup a failure points at: the first paragraph of the report.
enum class FailureCategory : int {
    LocalFiles = 0,
    Transfer = 1,
    ServerData = 2,  // the server's data is in the wrong form
    Integrity = 3,
};

// Each way the engine fails. The value is the failure's code: the report, the tools' output and
// the players' logs carry these numbers, so none of them ever changes. Codes 0 to 8 are those of
// the original catalogue. The comment names the category and the parameters.
enum class Failure : int {
    ChunkIndexNotFetched = 0,    // Transfer; detail: the file whose chunk index it is
    ServerDataInvalid = 1,       // ServerData: a file list or chunk index in the wrong form
    FolderNotMade = 2,           // LocalFiles; "Reason" (PathRefusal)
    TemporaryFileNotOpened = 3,  // LocalFiles: the file being rebuilt cannot be made
    RangesNotFetched = 4,        // Transfer; detail: the file being rebuilt
    OldFileNotDeleted = 5,       // LocalFiles
    NewFileNotPlaced = 6,        // LocalFiles: the rebuilt file cannot be moved over the old one
    FileListNotFetched = 7,      // Transfer
    ChecksumMismatch = 8,        // Integrity; "FileChecksum", "ExpectedChecksum"
    NoSpace = 9,                 // LocalFiles; "NeededBytes"
    FolderBusy = 10,             // LocalFiles; detail: the folder another update holds
    FolderInPlaceOfFile = 11,    // LocalFiles; detail: the listed path
    NotVerified = 12,            // Integrity; "Check" (TrustCheck, sync/signed_metadata.h)
};

constexpr FailureCategory categoryOf(Failure failure) {
    switch (failure) {
        case Failure::ChunkIndexNotFetched:
        case Failure::RangesNotFetched:
        case Failure::FileListNotFetched:
            return FailureCategory::Transfer;
        case Failure::ServerDataInvalid:
            return FailureCategory::ServerData;
        case Failure::ChecksumMismatch:
        case Failure::NotVerified:
            return FailureCategory::Integrity;
        case Failure::FolderNotMade:
        case Failure::TemporaryFileNotOpened:
        case Failure::OldFileNotDeleted:
        case Failure::NewFileNotPlaced:
        case Failure::NoSpace:
        case Failure::FolderBusy:
        case Failure::FolderInPlaceOfFile:
            break;
    }
    return FailureCategory::LocalFiles;
}

class PatchException : public std::exception {
public:
    using Params = std::map<std::string, std::uint32_t>;

    PatchException(Failure cause, std::string detail, std::string message, Params params = {})
        : PatchException(static_cast<int>(categoryOf(cause)), static_cast<int>(cause),
                         std::move(detail), std::move(message), std::move(params)) {}

    // A failure known only by its numbers, which need not name a known cause: the report has
    // words for numbers it does not know too.
    static PatchException fromNumbers(int category, int code, std::string detail,
                                      std::string message, Params params = {}) {
        return {category, code, std::move(detail), std::move(message), std::move(params)};
    }

    const char* what() const noexcept override { return message_.c_str(); }

    // The cause the code names; a value outside Failure's for a code fromNumbers made up.
    Failure cause() const { return static_cast<Failure>(code); }

private:
    PatchException(int category, int code, std::string detail, std::string message, Params params)
        : message_(std::move(message)),
          category(category),
          code(code),
          detail(std::move(detail)),
          params(std::move(params)) {}

    std::string message_;  // English diagnostic, never shown to the player

public:
    int category;        // a FailureCategory
    int code;            // a Failure
    std::string detail;  // the path the failure concerns, or empty
    Params params;       // extra numbers ("FileChecksum", "ExpectedChecksum")
};

// Why a path was refused or its folder could not be made: the "Reason" parameter of
// Failure::FolderNotMade, so that the report can say it in the player's language.
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

// Raised out of the engine when the caller asked it to stop (see RepoSync::setStopRequest).
// Not a failure: the run ends quietly, every file touched so far is either complete or untouched.
class SyncCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "synchronisation cancelled"; }
};

}  // namespace veldmoor
