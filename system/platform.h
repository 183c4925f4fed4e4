// Facts about the system the launcher runs on.
#pragma once

namespace veldmoor {

// True when the process runs under Wine (on Windows builds: ntdll.dll exports
// wine_get_version). The Linux build runs natively, so it is false there.
bool IsWine();

// True when the operating system's own TLS stack can make the launcher's HTTPS requests
// (on Windows: version 6 or later). The Linux build uses libcurl's TLS, so it is true there.
bool PlatformSupportsHttps();

// True when the system's HTML engine, which the news page is shown with, can be started in this
// process (on Windows: the browser control; Wine may lack its engine). Call it on the window's
// thread. The Linux build's engine belongs to the window toolkit, which checks it itself.
bool SystemHtmlEngineStarts();

}  // namespace veldmoor
