// The launcher's process entry. One program file takes one of three roles:
// - relocator: started from the launcher folder, it copies itself to VeldmoorLauncher under the
//   temporary folder, starts that copy with the same arguments and working directory, and ends;
//   so the installed program file is never the running image and the self-update can replace it;
// - user-interface process: the copy itself, which runs the main dialog;
// - repair process: started with -repair, it runs the repair actions and ends without a window.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line_info.h"
#include "app/startup_messages.h"
#include "system/prompt.h"
#include "system/repair.h"

namespace veldmoor {

class CLauncherApp {
public:
    // Makes the message boxes of start-up; returns nullptr when no display is available, and
    // the messages then go to standard error.
    using PromptFactory = std::function<std::unique_ptr<Prompt>()>;

    // The operations the repair process works with.
    using RepairOperationsFactory = std::function<std::unique_ptr<RepairOperations>()>;

    // arguments: the process's arguments after the program name, as received.
    CLauncherApp(std::vector<std::string> arguments, PromptFactory makePrompt,
                 RepairOperationsFactory makeRepairOperations);

    // Takes the process through its role. Always returns false: the process then ends with exit
    // code 0, after a message as much as after a successful start.
    bool InitInstance();

    const CLauncherAppCommandLineInfo& CommandLine() const { return commandLine_; }

private:
    void ShowStartupError(StartupError error);
    Prompt& MessagePrompt();
    void Relocate(const std::string& currentDirectory);
    void RunUserInterface();

    std::vector<std::string> arguments_;
    PromptFactory makePrompt_;
    RepairOperationsFactory makeRepairOperations_;
    std::unique_ptr<Prompt> prompt_;
    CLauncherAppCommandLineInfo commandLine_;
};

// The folder the relocator copies the program file to: VeldmoorLauncher in the temporary folder.
std::string TempCopyFolder();
// The program file's place inside TempCopyFolder().
std::string TempCopyPath();

// True when the running program file lies inside the temporary folder, that is, this process is
// the copy.
bool IsRunningFromTempCopy();

// True when no process runs from the program file imagePath (any more), false when one still
// runs after the time-out. Each such process is waited for in turn, each with the full time-out.
bool WaitForRunningCopy(const std::string& imagePath, std::chrono::milliseconds timeout);

}  // namespace veldmoor
