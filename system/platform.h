// Facts about the system the launcher runs on.
#pragma once

namespace veldmoor {

// True when the process runs under Wine (on Windows builds: ntdll.dll exports
// wine_get_version). The Linux build runs natively, so it is false there.
bool IsWine();

// True when the operating system's own TLS stack can make the launcher's HTTPS requests
// (on Windows: version 6 or later). The Linux build uses libcurl's TLS, so it is true there.
bool PlatformSupportsHttps();

// The running process's id.
long long CurrentProcessId();

}  // namespace veldmoor
