// Breaks text into lines no wider than a width in a window's font, for texts that the toolkit
// does not wrap itself (check box labels, the lines of a message box).
#pragma once

#include <wx/string.h>
#include <wx/window.h>

namespace veldmoor {

// Each paragraph ("\n") is broken at spaces into lines of at most `width` pixels in `measure`'s
// font; a word longer than a line (a path) is broken after its last folder separator that
// fits, else where the line is full. Existing line breaks stay.
wxString WrapToWidth(const wxWindow& measure, const wxString& text, int width);

}  // namespace veldmoor
