// The Launcher program: the process entry of all three roles (see app/launcher_app.h).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/launcher_app.h"
#include "app/launcher_dialog_entry.h"
#include "system/command_line.h"
#include "system/repair_operations.h"

namespace {

constexpr const char* kUsage =
    "Usage: Launcher [options]\n"
    "\n"
    "Keeps the Veldmoor game installation up to date and starts the game. Started from its\n"
    "folder, it runs a copy of itself from the temporary folder and shows its window there.\n"
    "\n"
    "The options are for the launcher's own restarts:\n"
    "  -instantpatch        start the patch run at once, without the countdown\n"
    "  -noselfpatch         skip the launcher's own update\n"
    "  -repair \"<folder>\"   run the repair actions on <folder> without a window, then end\n"
    "  -rreg                repair: write the game's registry path\n"
    "  -rrights             repair: reset the access rights of the folder\n"
    "  -rconfig             repair: reset the client's settings (Documents/Veldmoor/Einstellungen\n"
    "                       is moved aside, uo.cfg is deleted)\n"
    "  --help               show this text\n"
    "\n"
    "Messages appear in a message box when a display is available, else on standard error.\n"
    "The exit code is 0 in every case.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments = veldmoor::CommandLineArguments(argc, argv);
    if (!arguments.empty()) {
        arguments.erase(arguments.begin());
    }
    for (const std::string& argument : arguments) {
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    veldmoor::CLauncherApp app(std::move(arguments), veldmoor::CreateDesktopPrompt,
                               veldmoor::MakeSystemRepairOperations);
    app.InitInstance();
    return 0;
}
