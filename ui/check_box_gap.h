// The gap between a check box's mark and its label. GTK keeps its theme's few pixels whatever
// the size of the text, so with the text at 150 % the mark touched the label.
#pragma once

class wxCheckBox;

namespace veldmoor {

// Leaves at least `pixels` (logical pixels) between the box's mark and its label.
void WidenCheckBoxGap(wxCheckBox& box, int pixels);

}  // namespace veldmoor
