// The window library's part of start-up for a build without a window: the user-interface role
// is reached but has nothing to show, and messages go to standard error.
#include <cstdio>

#include "app/launcher_dialog_entry.h"

namespace veldmoor {

void RunLauncherDialog(const LauncherDialogStart& /*start*/) {
    std::fputs("Launcher: the user-interface process started; this build has no window.\n", stderr);
}

std::unique_ptr<Prompt> CreateDesktopPrompt() {
    return nullptr;
}

}  // namespace veldmoor
