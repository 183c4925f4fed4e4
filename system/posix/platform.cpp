#include "system/platform.h"

namespace veldmoor {

bool IsWine() {
    return false;
}

bool PlatformSupportsHttps() {
    return true;
}

bool SystemHtmlEngineStarts() {
    return true;
}

}  // namespace veldmoor
