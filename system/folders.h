// Well-known folders of the running process and the user. Each can be pointed at a temporary
// folder through the environment, so that tests never touch the real home or Documents folder.
#pragma once

#include <string>

namespace veldmoor {

// The user's temporary directory, always ending with a separator (as the Windows temporary path
// does). Honours TMPDIR; falls back to "/tmp/".
std::string TemporaryDirectory();

// A folder of this user's own under the temporary directory: prefix, '-' and the user's id, so
// two people on one machine never share (or fight over) it. Not created here.
std::string UserTemporaryFolder(const std::string& prefix);

// The process's current directory; empty when it cannot be determined.
std::string CurrentDirectory();
// Changes the process's current directory; false when the folder cannot be entered.
bool ChangeCurrentFolder(const std::string& folder);

// The user's Documents folder, without a trailing separator. VELDMOOR_DOCUMENTS_DIR overrides
// it (tests, demo); else XDG_DOCUMENTS_DIR, the "XDG_DOCUMENTS_DIR" line of
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), then $HOME/Documents.
// Empty when none can be determined.
std::string DocumentsFolder();

// The Documents folder of the person whose home folder is home (another user's, when the
// launcher runs as root on their behalf): the "XDG_DOCUMENTS_DIR" line of their
// ~/.config/user-dirs.dirs (a translated name such as ~/Dokumente), else home/Documents. The
// process's own environment plays no part. Empty for an empty home.
std::string DocumentsFolderOfHome(const std::string& home);

// The Documents folder of the person at the desktop (see process_launch.h): on POSIX, when the
// launcher runs as root on someone's behalf, theirs (DocumentsFolderOfHome) unless
// VELDMOOR_DOCUMENTS_DIR is set; else DocumentsFolder(). An elevated launcher would otherwise
// look in root's own Documents folder, which holds nothing of the person's game.
std::string DesktopUserDocumentsFolder();

// Where the folder picker for a game installation opens: the user's games folder
// ($HOME/Games) when it exists, else the home folder. Empty without a home folder.
std::string SuggestedGamesFolder();

// The folder of the user's own data for this program (the trusted state of signed
// repositories), without a trailing separator: $XDG_DATA_HOME/veldmoor-launcher, else
// ~/.local/share/veldmoor-launcher; %LOCALAPPDATA%\Veldmoor Launcher on Windows. Not created
// here. Empty when none can be determined.
std::string UserDataFolder();

// Full path of the running program file; empty when it cannot be determined.
std::string ProgramFilePath();

// The folder holding the running program file (no trailing separator).
std::string LauncherFolder();

}  // namespace veldmoor
