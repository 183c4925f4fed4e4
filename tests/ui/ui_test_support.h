// What the window's tests share: a wx application started once for the whole test binary, an
// event pump, and a modal-dialog hook that answers message boxes from a script instead of
// showing them, so no box can hang a headless run.
#pragma once

#include <wx/dialog.h>
#include <wx/modalhook.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace veldmoor::uitest {

// Whether a window manager has announced itself on $DISPLAY. The test binary starts openbox
// on a display that has none, for the whole run.
bool WindowManagerRuns();

// Processes window events until done() holds or timeout passes; returns done().
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));
// Processes the events that are waiting now (and a little more, for the toolkit's idle work).
void Pump(std::chrono::milliseconds duration = std::chrono::milliseconds(50));

// Answers every modal message box and picker while it lives. Boxes not in the script answer
// wxID_CANCEL and are recorded as unexpected. Other dialogs open as usual unless `handle` says
// otherwise.
class ScriptedBoxes : public wxModalDialogHook {
public:
    struct Box {
        std::string caption;
        std::string text;
        long style = 0;
    };

    ScriptedBoxes();
    ~ScriptedBoxes() override;

    // The next message box answers with this id (wxID_YES, wxID_NO, wxID_OK, wxID_CANCEL).
    void Answer(int id) { answers.push_back(id); }
    // Dialogs other than message boxes: return an id to close them at once, or wxID_NONE to
    // show them.
    std::function<int(wxDialog*)> handle;
    // Sees each message box before it is answered (its contents are built by then).
    std::function<void(wxDialog*)> inspectBox;

    std::vector<Box> boxes;
    int unexpected = 0;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog* dialog) override;

private:
    std::deque<int> answers;
};

}  // namespace veldmoor::uitest
