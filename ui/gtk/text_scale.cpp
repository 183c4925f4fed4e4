#include <cstdlib>

#include "ui/skin.h"

namespace veldmoor {

// GTK enlarges text by GDK_DPI_SCALE without telling windows of any other scale: the screen's
// resolution stays 96 dpi (times GDK_SCALE).
double TextScale() {
    if (const char* value = std::getenv("GDK_DPI_SCALE")) {
        char* end = nullptr;
        const double scale = std::strtod(value, &end);
        if (end != value && scale >= 0.5 && scale <= 4.0)
            return scale;
    }
    return 1.0;
}

}  // namespace veldmoor
