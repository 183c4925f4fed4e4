// The main dialog's parts that show a patch run: the status log, the progress bar, the size,
// speed and time-left texts, the run's buttons, the auto-start check box, the profile selector,
// the end of the dialog and the message boxes (inherited from Prompt). RunPresenter drives it
// with the texts it makes from the run's events; the wx dialog implements it, tests record it.
// Every operation follows the threading contract of patch/launcher_view.h: callable from the
// worker's thread, synchronous, and a no-op (boxes declined) once the dialog is closing.
// Texts are UTF-8; status texts carry their own "\r\n" line ends.
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

class RunScreen : public Prompt {
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
    // progress 0, the status log stays visible; the dialog then refreshes what depends on the
    // selected profile.
    virtual void LeavePatchingLayout() = 0;

    // Progress bar position, 0 to kProgressRange.
    virtual void SetProgressPosition(int position) = 0;
    // Size text ("1.50KB/3.00MB"), speed text ("12.0KB/s") and time left ("noch 12 s", or empty
    // while it is not known).
    virtual void SetSizeText(const std::string& text) = 0;
    virtual void SetSpeedText(const std::string& text) = 0;
    virtual void SetTimeLeftText(const std::string& text) = 0;
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
