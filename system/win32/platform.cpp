#include "system/platform.h"

#include <exdisp.h>
#include <objbase.h>

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

bool SystemHtmlEngineStarts() {
    // The window's thread has COM set up already; this only balances its own call.
    const HRESULT setUp = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWebBrowser2* browser = nullptr;
    const HRESULT created =
        ::CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IWebBrowser2,
                           reinterpret_cast<void**>(&browser));
    if (browser != nullptr) {
        browser->Release();
    }
    if (SUCCEEDED(setUp)) {
        ::CoUninitialize();
    }
    return SUCCEEDED(created) && browser != nullptr;
}

}  // namespace veldmoor
