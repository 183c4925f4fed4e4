// The cleanup list operations.txt: lines "<target> remove <path>" that delete files, folder
// trees or wildcard matches below a target folder ("launcher": the launcher folder, "client":
// the game folder). The list comes from the server, so a path that is empty, rooted, carries a
// drive prefix, names the target folder itself, leads outside it with "..", holds a NUL byte or
// passes through a symbolic link is refused and reported (EntryRefused); links met while removing
// a tree are removed, never followed. The first failing removal ends the target's list with
// OperationsProcessorException.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "patch/run_events.h"

namespace veldmoor {

// What the cleanup reports as it goes, in the run's events.
using CleanupNote = std::variant<CleanupStarted, EntryRemoving, EntryRefused>;
using CleanupLog = std::function<void(const CleanupNote&)>;
using BeforeRemoval = std::function<void()>;

// How entries are deleted. The file system's by default; tests substitute failures.
class EntryRemover {
public:
    virtual ~EntryRemover() = default;
    virtual bool RemoveFile(const std::string& path) const;
    virtual bool RemoveTree(const std::string& path) const;
};
const EntryRemover& FileSystemRemover();

inline constexpr char kOperationsFileName[] = "operations.txt";

// True when text, after leading blanks (tab, LF, CR, space), starts with keyword followed by a
// blank or the end; rest is then the position just after the keyword.
bool MatchKeyword(std::string_view text, std::string_view keyword, std::size_t& rest);

// Reads listFolder/operations.txt and calls handler with the rest of every line that starts with
// target. A missing list is not an error. OperationsProcessorException passes through.
void ProcessOperationsFile(const std::string& listFolder, std::string_view target,
                           const std::function<void(std::string_view)>& handler);
// The same for a list already open.
void ProcessOperationsList(std::istream& list, std::string_view target,
                           const std::function<void(std::string_view)>& handler);

// Runs one line's rest against folder. False when it is no "remove" operation.
bool ExecuteOperation(const std::string& folder, std::string_view text,
                      const BeforeRemoval& beforeRemoval, const CleanupLog& log,
                      const EntryRemover& remover = FileSystemRemover());

// Full paths of the entries matching the last component of pattern ('*' any run of characters,
// '?' one character), in directory order, narrowed to names that end with the text after the
// last '*' (byte for byte).
std::vector<std::string> ExpandWildcard(const std::string& pattern);

// Deletes path with everything below it; symbolic links are removed, not followed.
bool RemoveFolderTree(const std::string& path);

// The "launcher" and "client" lines against the launcher folder and the game folder. True when
// at least one removal was tried. Throw OperationsProcessorException.
bool CleanupLauncherData(const std::string& launcherFolder, const CleanupLog& log,
                         const EntryRemover& remover = FileSystemRemover());
bool CleanupGameData(const std::string& launcherFolder, const std::string& gameFolder,
                     const CleanupLog& log, const EntryRemover& remover = FileSystemRemover());

}  // namespace veldmoor
