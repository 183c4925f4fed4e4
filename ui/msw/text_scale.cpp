#include "ui/skin.h"

namespace veldmoor {

// Windows scales the whole window, text and all, by the display's resolution (DisplayScale), so
// text is never larger than the rest on its own.
double TextScale() {
    return 1.0;
}

}  // namespace veldmoor
