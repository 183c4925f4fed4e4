#include "system/platform.h"

#include "system/win32/win32_support.h"

namespace veldmoor {

bool IsWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool PlatformSupportsHttps() {
    // The program needs Windows 7 (version 6.1) or later, whose TLS stack serves every request.
    return true;
}

}  // namespace veldmoor
