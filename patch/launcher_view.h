// The main dialog as the patch run sees it: something that is told the run's events
// (patch/run_events.h) and answers its questions. The run reports values (a step, a path,
// byte counts, a failure's cause); the window turns them into the texts, the bar and the
// layout it shows (ui/run_presenter.h). Tests implement it with a recording view.
//
// Threading contract
// - The patch worker calls every operation from its own thread. Each call is synchronous: it
//   returns after the dialog has carried it out on the user-interface thread, so an event the
//   worker hands over may be released as soon as the call returns, and the order of calls is
//   the order on screen. A failure event returns once its message box was closed.
// - The user-interface thread never waits for the worker (no join, no lock the worker may hold
//   while it calls the view). To stop a run the dialog asks PatchWorker to stop; the worker
//   ends at its next safe point.
// - Once the dialog starts closing, every call must return promptly without touching the
//   window: events do nothing, Ask answers no. So a worker that is waiting for the window is
//   always released, and a closing dialog never hangs on it. patch/ui_call_bridge.h implements
//   exactly this hand-over.
#pragma once

#include "patch/run_events.h"

namespace veldmoor {

class LauncherView {
public:
    virtual ~LauncherView() = default;

    // Shows what the event says (status log, bar, size and speed, layout, message box).
    virtual void Report(const RunEvent& event) = 0;
    // Asks the player; true for yes. A window that is closing answers false.
    virtual bool Ask(const RunQuestion& question) = 0;
};

}  // namespace veldmoor
