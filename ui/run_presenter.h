// Turns a patch run's events into what the main dialog shows: the texts of ui/run_texts.h and
// ui/report_texts.h, the bar's position, the layout and the message boxes, and its questions
// into boxes with buttons. The time left is computed from the byte counts and the rate the run
// reports, never read back from the texts on screen.
//
// One presenter serves one screen and is called by one run at a time (the worker's thread, or
// the user-interface thread in tests); it keeps the figures of the current transfers between
// calls.
#pragma once

#include <cstdint>

#include "patch/launcher_view.h"
#include "ui/run_screen.h"

namespace veldmoor {

class RunPresenter : public LauncherView {
public:
    explicit RunPresenter(RunScreen& screen) : screen_(screen) {}

    void Report(const RunEvent& event) override;
    bool Ask(const RunQuestion& question) override;

private:
    template <class Event>
    void Show(const Event& event);
    void ShowTimeLeft();

    RunScreen& screen_;
    // The current transfers' figures, for the time left; unknown until reported.
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t bytesPerSecond_ = 0;
    bool bytesKnown_ = false;
    bool rateKnown_ = false;
};

// Progress position of current bytes out of total. Nothing to download counts as complete, and
// the position never leaves the bar's range.
int ProgressPosition(std::uint64_t current, std::uint64_t total);

}  // namespace veldmoor
