#include "ui/skin_choice.h"

#include <wx/dcmemory.h>

#include "ui/skin.h"

namespace veldmoor {

namespace {

// The colours of the window's frame and titles: gold on the dark ground.
const wxColour& kGround = kSkinGround;
const wxColour& kFrame = kSkinFrame;
const wxColour& kGold = kSkinGold;
const wxColour& kText = kSkinParchment;
const wxColour& kChosenText = kSkinGround;

// A gold arrow pointing down on the dark ground in a gold frame, for the button, at the display's
// resolution.
wxBitmap ArrowBitmap(int side) {
    const double scale = DisplayScale();
    wxBitmap bitmap;
    bitmap.CreateWithDIPSize(wxSize(side, side), scale);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(kGround));
    dc.Clear();
    // Framed as the text beside it is, so the two read as one box.
    dc.SetPen(wxPen(kFrame));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, 0, side, side);
    dc.SetPen(wxPen(kGold));
    dc.SetBrush(wxBrush(kGold));
    const int half = side / 4;
    const wxPoint middle(side / 2, side / 2 + half / 2);
    const wxPoint arrow[] = {middle, middle + wxPoint(-half, -half), middle + wxPoint(half, -half)};
    dc.DrawPolygon(3, arrow);
    dc.SelectObject(wxNullBitmap);
    return bitmap;
}

}  // namespace

bool CSkinChoice::Create(wxWindow* parent, wxWindowID id, const wxPoint& position, int width) {
    if (!wxOwnerDrawnComboBox::Create(parent, id, wxString(), position, wxSize(width, -1), 0,
                                      nullptr, wxCB_READONLY | wxBORDER_NONE))
        return false;
    SetBackgroundColour(kGround);
    SetForegroundColour(kText);
    const int side = GetSize().y;
    SetButtonBitmaps(ArrowBitmap(side));
    return true;
}

void CSkinChoice::OnDrawBackground(wxDC& dc, const wxRect& rect, int, int flags) const {
    const bool control = (flags & wxODCB_PAINTING_CONTROL) != 0;
    const bool chosen = !control && (flags & wxODCB_PAINTING_SELECTED) != 0;
    // The keyboard's focus shows as a brighter, thicker frame.
    const bool focused = control && HasFocus();
    dc.SetPen(!control ? *wxTRANSPARENT_PEN : focused ? wxPen(kGold, 2) : wxPen(kFrame));
    dc.SetBrush(wxBrush(chosen ? kGold : kGround));
    dc.DrawRectangle(focused ? wxRect(rect).Deflate(1) : rect);
}

void CSkinChoice::OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const {
    if (item == wxNOT_FOUND)
        return;
    const bool chosen =
        (flags & wxODCB_PAINTING_CONTROL) == 0 && (flags & wxODCB_PAINTING_SELECTED) != 0;
    dc.SetFont(GetFont());
    dc.SetTextForeground(chosen ? kChosenText : kText);
    const wxString text = GetString(static_cast<unsigned int>(item));
    const int margin = GetCharWidth() / 2;
    dc.DrawText(text, rect.x + margin, rect.y + (rect.height - dc.GetCharHeight()) / 2);
}

wxCoord CSkinChoice::OnMeasureItem(size_t) const {
    return GetCharHeight() * 3 / 2;
}

}  // namespace veldmoor
