// The window library's part of start-up for a build without a window (VELDMOOR_BUILD_UI=OFF):
// there is never a display to show anything on, so start-up writes its messages, and the
// user-interface process its notice that it has no window, to standard error.
#include <cstdio>

#include "app/launcher_dialog_entry.h"
#include "app/startup_messages.h"

namespace veldmoor {

// Without the window there is no catalogue either: start-up speaks German.
std::string StartupText(const char* german) {
    return german;
}

void RunLauncherDialog(const LauncherDialogStart& /*start*/) {
    std::fputs("Launcher: the user-interface process started; this build has no window.\n", stderr);
}

std::unique_ptr<Prompt> CreateDesktopPrompt() {
    return nullptr;
}

}  // namespace veldmoor
