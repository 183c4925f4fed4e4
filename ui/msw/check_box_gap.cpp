#include <wx/checkbox.h>

#include "ui/check_box_gap.h"

namespace veldmoor {

// Windows spaces the mark from its label by the size of the system's text already.
void WidenCheckBoxGap(wxCheckBox& box, int) {
    box.InvalidateBestSize();
}

}  // namespace veldmoor
