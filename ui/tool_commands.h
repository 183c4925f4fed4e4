// The tools menu of the main dialog: the companion tools in the installation's tools folder and
// the game's log and screenshot folders under the user's Documents folder.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "system/prompt.h"

namespace veldmoor {

// Menu command ids.
inline constexpr int kCmdOpenLogs = 32776;
inline constexpr int kCmdOpenScreenshots = 32777;
inline constexpr int kCmdStatusMap = 32778;
inline constexpr int kCmdLoopTool = 32779;
inline constexpr int kCmdLogSweeper = 32780;

// The toolkit takes menu item ids below 0x7FFF only; the menu's items carry the command id
// moved into that range, and a chosen item is mapped back.
inline constexpr int kMenuItemIdOffset = 16384;
inline constexpr int MenuItemId(int command) {
    return command - kMenuItemIdOffset;
}
inline constexpr int CommandOfMenuItem(int itemId) {
    return itemId + kMenuItemIdOffset;
}

// How programs are started and folders opened; tests record the calls instead.
struct ShellActions {
    // Starts program in workingDirectory; false when it could not be started.
    std::function<bool(const std::string& program, const std::string& workingDirectory)>
        startProgram;
    // Opens folder in the file manager; false when that failed.
    std::function<bool(const std::string& folder)> openFolder;
};

// The real actions: the program started as the game is (a Windows program through wine, in its
// own folder, its failure seen), the folder opened with the desktop's default application.
ShellActions SystemShellActions();

struct MenuEntry {
    int command;  // 0: separator
    const char* text;
    int iconId;
};
// The menu in order: Statuskarte, Loop, separator, Logs-Ordner öffnen, LogSweeper,
// Screenshots-Ordner öffnen.
const MenuEntry* ToolsMenuEntries(int& count);
// Icon resource of a command, or std::nullopt for any other id.
std::optional<int> GetMenuIcon(int command);

// Runs one command: a tool of the installation at patchPath (nothing without a profile), or one
// of the folders under documentsFolder. Failures are told through prompt as the menu's messages.
void RunToolCommand(int command, const std::optional<std::string>& patchPath,
                    const std::string& documentsFolder, const ShellActions& shell, Prompt& prompt);

}  // namespace veldmoor
