#include "system/platform.h"

#include <unistd.h>

namespace veldmoor {

bool IsWine() {
    return false;
}

bool PlatformSupportsHttps() {
    return true;
}

long long CurrentProcessId() {
    return static_cast<long long>(getpid());
}

}  // namespace veldmoor
