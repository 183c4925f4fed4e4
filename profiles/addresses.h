// The built-in addresses of the synchronisation server and the news page, the legacy rsync
// addresses older profiles may hold, and the choice of scheme for the running system.
//
// Host names are build settings (cmake/Deployment.cmake): VELDMOOR_SYNC_HOST for the three
// repositories, VELDMOOR_WEB_HOST for the news page, VELDMOOR_OLD_RSYNC_HOST_1 (the former
// update server) and VELDMOOR_OLD_RSYNC_HOST_2 (the former build server) for the legacy ones.
//
// Environment override for tests and the demo:
//   VELDMOOR_SERVER_OVERRIDE=http://127.0.0.1:8080
// replaces scheme and host (with port) of all four built-in addresses, so MainRepoAddress()
// becomes "http://127.0.0.1:8080/srv/" and NewsPageAddress() "http://127.0.0.1:8080/html/
// launcher.php". Only values of the form http://host[:port] or https://host[:port] (an optional
// trailing slash is dropped) are used; anything else is ignored. The legacy rsync addresses are
// not affected.
#pragma once

#include <string>

namespace veldmoor {

inline constexpr char kServerOverrideVariable[] = "VELDMOOR_SERVER_OVERRIDE";

// Repository addresses end with a slash; the engine appends its request paths.
std::string MainRepoAddress();      // https://<sync host>/srv/ : the main world's game files
std::string BuildRepoAddress();     // https://<sync host>/bau/ : the build server's files
std::string LauncherRepoAddress();  // https://<sync host>/launcher/ : the launcher itself
std::wstring NewsPageAddress();     // https://<web host>/html/launcher.php

// rsync://<host>:/<module> forms found in old profiles.
std::string LegacyMainAddress();                 // update server, Veldmoor.Patch
std::string LegacyBuildAddressOnUpdateServer();  // update server, Veldmoor.Bau
std::string LegacyBuildAddressOnBuildServer();   // build server, Veldmoor.Bau

// True when the system can use HTTPS for the launcher's requests: not under Wine, and the
// platform's TLS is recent enough.
bool SupportsHttps();

// The address with its first "https:" replaced by "http:".
std::string ForceHttp(std::string address);
std::wstring ForceHttp(std::wstring address);

// The address unchanged when HTTPS is supported, else ForceHttp(address). Every built-in
// address goes through this before use. The two-argument forms take the decision as given.
std::string AdjustScheme(std::string address);
std::wstring AdjustScheme(std::wstring address);
std::string AdjustScheme(std::string address, bool supportsHttps);
std::wstring AdjustScheme(std::wstring address, bool supportsHttps);

}  // namespace veldmoor
