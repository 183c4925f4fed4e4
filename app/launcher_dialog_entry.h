// What the launcher's start-up needs from the window library: the main dialog and the message
// boxes. The window library defines both functions; a build without a window links
// app/main/no_window.cpp instead.
#pragma once

#include <memory>

#include "app/command_line_info.h"
#include "system/prompt.h"
#include "system/single_instance.h"

namespace veldmoor {

struct LauncherDialogStart {
    // The parsed options (-instantpatch, -noselfpatch) for the dialog and its patch run.
    const CLauncherAppCommandLineInfo& commandLine;
    // Listens for a second start of the launcher; nullptr when another window of this user
    // already listens. The dialog calls StartServing with a callback that hands the work to its
    // own thread, where it restores and raises its window, and stops serving before it closes.
    RunningDialogListener* secondStart;
};

// Runs the main dialog modally and returns when it has closed.
void RunLauncherDialog(const LauncherDialogStart& start);

// Message boxes for start-up and the repair run ("Fehler" boxes without an owner window), or
// nullptr when no display can be opened; the messages then go to standard error.
std::unique_ptr<Prompt> CreateDesktopPrompt();

}  // namespace veldmoor
