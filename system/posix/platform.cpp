#include "system/platform.h"

namespace veldmoor {

bool IsWine() {
    return false;
}

bool PlatformSupportsHttps() {
    return true;
}

}  // namespace veldmoor
