// The main dialog as the patch run sees it: the status log, the progress bar, the size and
// speed texts, the auto-start check box, the profile list, the end of the dialog and the
// message boxes (inherited from Prompt). The wx dialog implements it; tests implement it with
// a recording view.
//
// Threading contract
// - The patch worker calls every operation from its own thread. Each call is synchronous: it
//   returns after the dialog has carried it out on the user-interface thread, so a text the
//   worker hands over may be released as soon as the call returns, and the order of calls is
//   the order on screen.
// - The user-interface thread never waits for the worker (no join, no lock the worker may hold
//   while it calls the view). To stop a run the dialog asks PatchWorker to stop; the worker
//   ends at its next safe point.
// - Once the dialog starts closing, every call must return promptly without touching the
//   window: status, progress and layout calls do nothing, ShowMessage answers as if the person
//   declined (No for Yes/No boxes, Cancel where there is one, Ok for a plain Ok box). So a
//   worker that is waiting for the window is always released, and a closing dialog never
//   hangs on it. patch/ui_call_bridge.h implements exactly this hand-over.
// - Texts are UTF-8. Status texts carry their own "\r\n" line ends where the run writes them.
#pragma once

#include <string>

#include "system/prompt.h"

namespace veldmoor {

// What the buttons beside the progress offer while a run patches.
enum class RunControls {
    Hidden,   // no transfer to hold: before and after the transfers, and in the idle layout
    Running,  // pause and stop
    Paused,   // resume and stop
};

class LauncherView : public Prompt {
public:
    // Highest progress position; the bar's range is 0 to this.
    static constexpr int kProgressRange = 1000;

    // Empties the status log and lifts any length limit on it (start of a run).
    virtual void ClearStatusText() = 0;
    // Appends text at the end of the status log and scrolls to it.
    virtual void AppendStatusText(const std::string& text) = 0;
    // Appends text followed by "\r\n".
    virtual void AppendStatusLine(const std::string& text) = 0;
    // Appends "\r\n".
    virtual void AppendStatusBreak() = 0;

    // Switches to the layout of a running patch (status log and progress visible).
    virtual void EnterPatchingLayout() = 0;
    // Back to the idle layout after a run ended early: profile list and Edit button enabled,
    // progress 0, the status log stays visible; then OnProfileSelected().
    virtual void LeavePatchingLayout() = 0;
    // Refreshes whatever depends on the selected profile (the dialog's own handler).
    virtual void OnProfileSelected() = 0;

    // Progress bar position, 0 to kProgressRange.
    virtual void SetProgressPosition(int position) = 0;
    // Size text ("1.50KB/3.00MB") and speed text ("12.0KB/s").
    virtual void SetSizeText(const std::string& text) = 0;
    virtual void SetSpeedText(const std::string& text) = 0;
    // Shows or hides the size and speed texts together.
    virtual void ShowTransferTexts(bool visible) = 0;

    // Shows the pause, resume and stop buttons as `controls` says. LeavePatchingLayout hides
    // them too.
    virtual void ShowRunControls(RunControls controls) = 0;

    // Caption of the auto-start check box ("Automatisch starten (5)").
    virtual void SetAutoStartCaption(const std::string& caption) = 0;
    // Enables or disables the profile selector.
    virtual void EnableProfileSelector(bool enabled) = 0;

    // Ends the dialog with the given result; the launcher ends with it.
    virtual void EndDialog(int result) = 0;
};

}  // namespace veldmoor
