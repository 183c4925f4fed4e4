// Window tests that depend on what a window manager does (which window has the keyboard, where
// key presses go) run under one: openbox on the test's display, started for the test binary
// when none runs there yet. Keys are pressed through the X server (xdotool), as a person would.
#pragma once

#include <wx/image.h>
#include <wx/toplevel.h>

#include <string>

namespace veldmoor::uitest {

// Makes sure a window manager runs on $DISPLAY; false (with a test failure) when none comes up.
bool EnsureWindowManager();

// Gives window the keyboard through the window manager; false when it did not get it.
bool Activate(wxTopLevelWindow& window);

// Presses keys (xdotool names: "Tab", "space", "Return") on the window that has the keyboard,
// processing the window's events meanwhile. False when xdotool failed. The keys may still be on
// their way: wait for what they do.
bool PressKeys(const std::string& keys);

// Whether the keyboard is on control or on a part of it.
bool HasKeyboardFocus(const wxWindow& control);

// What the X server shows of window now (read back with ImageMagick's import into a file in
// folder; the toolkit's own reads of the screen repeat their first picture).
wxImage CaptureFromScreen(const wxWindow& window, const std::string& folder);

}  // namespace veldmoor::uitest
