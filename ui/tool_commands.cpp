#include "ui/tool_commands.h"

#include <wx/utils.h>

#include <array>
#include <filesystem>

#include "system/path.h"
#include "system/process_launch.h"
#include "system/text_encoding.h"
#include "ui/translate.h"
#include "ui/wx_prompt.h"

namespace veldmoor {

namespace {

constexpr std::array kMenu = {
    MenuEntry{kCmdStatusMap, German("Statuskarte"), 179},
    MenuEntry{kCmdLoopTool, "Loop", 182},
    MenuEntry{0, "", 0},
    MenuEntry{kCmdOpenLogs, German("Logs-Ordner öffnen"), 181},
    MenuEntry{kCmdLogSweeper, "LogSweeper", 183},
    MenuEntry{kCmdOpenScreenshots, German("Screenshots-Ordner öffnen"), 180},
};

struct Tool {
    int command;
    const char* folder;
    const char* program;
    const char* failure;
};

constexpr std::array kTools = {
    Tool{kCmdStatusMap, "statusmap", "VeldmoorStatusMap.exe",
         German("Die Statuskarte konnte nicht aufgerufen werden. Bitte patche um sicherzustellen, "
                "dass diese verfügbar ist.")},
    Tool{kCmdLoopTool, "velloop", "VeldmoorLoop.exe",
         German("VelLoop konnte nicht aufgerufen werden. Bitte patche um sicherzustellen, dass es "
                "verfügbar ist.")},
    Tool{kCmdLogSweeper, "logsweeper", "LogSweeper.exe",
         German("Der LogSweeper konnte nicht aufgerufen werden. Bitte patche um sicherzustellen, "
                "dass er verfügbar ist.")},
};

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(PathFromUtf8(path), error);
}

bool IsExistingFile(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file = PathFromUtf8(path);
    return std::filesystem::exists(file, error) && !std::filesystem::is_directory(file, error);
}

void RunTool(const Tool& tool, const std::string& patchPath, const ShellActions& shell,
             Prompt& prompt) {
    const std::string directory =
        AppendPathComponent(AppendPathComponent(patchPath, "tools"), tool.folder);
    const std::string program = AppendPathComponent(directory, tool.program);
    if (!IsExistingFile(program) || !shell.startProgram(program, directory))
        prompt.ShowMessage(tr(tool.failure), tr("Fehler"), PromptButtons::Ok, PromptIcon::Error);
}

void OpenGameFolder(const std::string& documentsFolder, const char* last,
                    const std::string& missing, const ShellActions& shell, Prompt& prompt) {
    if (documentsFolder.empty()) {
        prompt.ShowMessage(missing, "", PromptButtons::Ok, PromptIcon::None);
        return;
    }
    const std::string folder =
        AppendPathComponent(AppendPathComponent(documentsFolder, "Veldmoor"), last);
    if (!IsDirectory(folder) || !shell.openFolder(folder))
        prompt.ShowMessage(missing, "", PromptButtons::Ok, PromptIcon::None);
}

}  // namespace

ShellActions SystemShellActions() {
    ShellActions actions;
    actions.startProgram = [](const std::string& program, const std::string& directory) {
        // A Windows program is watched for a moment to see that wine could run it.
        const wxBusyCursor busy;
        return StartDeElevated(program, directory);
    };
    actions.openFolder = [](const std::string& folder) {
        return wxLaunchDefaultApplication(FromUtf8(folder));
    };
    return actions;
}

const MenuEntry* ToolsMenuEntries(int& count) {
    count = static_cast<int>(kMenu.size());
    return kMenu.data();
}

std::optional<int> GetMenuIcon(int command) {
    for (const MenuEntry& entry : kMenu) {
        if (entry.command != 0 && entry.command == command)
            return entry.iconId;
    }
    return std::nullopt;
}

void RunToolCommand(int command, const std::optional<std::string>& patchPath,
                    const std::string& documentsFolder, const ShellActions& shell, Prompt& prompt) {
    for (const Tool& tool : kTools) {
        if (tool.command == command) {
            if (patchPath)
                RunTool(tool, *patchPath, shell, prompt);
            return;
        }
    }
    if (command == kCmdOpenLogs)
        OpenGameFolder(documentsFolder, "Logs", tr("Du hast noch keine Logs."), shell, prompt);
    else if (command == kCmdOpenScreenshots)
        OpenGameFolder(documentsFolder, "Screenshots", tr("Du hast noch keine Screenshots."), shell,
                       prompt);
}

}  // namespace veldmoor
