// Dialog units as the toolkit converts them: a horizontal unit is a quarter of the average
// letter width of the dialog's font, a vertical unit an eighth of its character height. The
// dialogs keep their layouts in these units so they follow the system's font size.
#pragma once

#include <wx/dcscreen.h>
#include <wx/font.h>
#include <wx/gdicmn.h>

namespace veldmoor {

// The dialogs' font: the system's sans-serif face at 8 points.
inline wxFont DialogFont() {
    return wxFont(wxFontInfo(8).Family(wxFONTFAMILY_SWISS));
}

class DialogUnits {
public:
    explicit DialogUnits(const wxFont& font = DialogFont()) {
        wxScreenDC dc;
        dc.SetFont(font);
        const wxString letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
        charWidth = (dc.GetTextExtent(letters).x / 26 + 1) / 2;
        charHeight = dc.GetCharHeight();
    }
    int X(int units) const { return units * charWidth / 4; }
    int Y(int units) const { return units * charHeight / 8; }
    wxPoint Point(int x, int y) const { return {X(x), Y(y)}; }
    // -1 stays the toolkit's "default" (its best size), as in a wxSize of pixels; converted, it
    // would become a real, tiny or negative size once the font is larger than 8 pixels high.
    wxSize Size(int w, int h) const {
        return {w == wxDefaultCoord ? wxDefaultCoord : X(w),
                h == wxDefaultCoord ? wxDefaultCoord : Y(h)};
    }
    wxRect Rect(int x, int y, int w, int h) const { return {X(x), Y(y), X(w), Y(h)}; }

private:
    int charWidth = 6;
    int charHeight = 13;
};

}  // namespace veldmoor
