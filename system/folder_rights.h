// Access rights of the game's installation folder: testing them, and resetting them when the
// game cannot write there (a folder copied by another user, files left by an elevated run).
#pragma once

#include <string>

namespace veldmoor {

inline constexpr int kFolderRead = 4;
inline constexpr int kFolderWrite = 2;
inline constexpr int kFolderExecute = 1;  // entering the folder

// Whether this process's effective user may use folder in every desired way (kFolder* bits).
bool HasFolderAccess(const std::string& folder, int desired);

// Gives folder and everything below it to the desktop user (see process_launch.h): owner that
// user and their main group, files read-write for user and group and readable by others
// (execute bits kept), folders 0775. Refuses, changing nothing, a relative path, the root, a path
// with "." or ".." steps, a symbolic link, anything but a folder, and a folder that is neither
// empty nor holds client.exe, so that it can only ever touch a game installation. Links met
// below are given to the user themselves and never followed; a file with a second name (a hard
// link) is left unchanged, as that name may lie outside. True when every other entry was changed.
// On Windows the folder gets an inherited list (everyone: read and run; users: change;
// administrators and the system: everything) and every entry below only inherits it; an entry
// whose list cannot be changed is first given to the desktop user. The same refusals apply, and
// for a drive root, a link or junction, and a system folder.
bool ResetFolderRights(const std::string& folder);

}  // namespace veldmoor
