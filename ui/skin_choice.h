// CSkinChoice: the profile selector in the skin's colours, light text on the dark ground in a
// gold frame, the chosen line and the arrow in gold. It is the toolkit's own owner-drawn combo
// box, read-only, so it keeps its keyboard (arrows, Home/End, Alt+Down, Enter) and answers as
// a choice does (Append, Clear, GetSelection, SetSelection, GetStringSelection).
#pragma once

#include <wx/odcombo.h>

namespace veldmoor {

class CSkinChoice : public wxOwnerDrawnComboBox {
public:
    CSkinChoice() = default;
    // The selection event is wxEVT_COMBOBOX.
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& position, int width);

protected:
    void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const override;
    void OnDrawBackground(wxDC& dc, const wxRect& rect, int item, int flags) const override;
    wxCoord OnMeasureItem(size_t item) const override;
};

}  // namespace veldmoor
