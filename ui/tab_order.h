// The keyboard's path through a window: Tab visits the controls in the order a person reads
// them, row by row from the top and each row from the left, whatever order they were made in.
#pragma once

#include <wx/window.h>

#include <vector>

namespace veldmoor {

// The children of `parent` (not top-level windows) in reading order: a control belongs to the
// row of the control above it when its vertical middle lies within that control's height.
std::vector<wxWindow*> ReadingOrder(const wxWindow& parent);

// Puts the children of `parent`, and of each child that holds controls of its own (a group
// box), in reading order for Tab. Call it once the controls have their final places.
void OrderTabStopsByReading(wxWindow& parent);

}  // namespace veldmoor
