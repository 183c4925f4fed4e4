#include "profiles/addresses.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include "system/platform.h"

#ifndef VELDMOOR_SYNC_HOST
#error "VELDMOOR_SYNC_HOST must be defined by the build (cmake/Deployment.cmake)"
#endif

namespace veldmoor {
namespace {

// "scheme://host[:port]" from VELDMOOR_SERVER_OVERRIDE, or none when unset or not of that form.
std::optional<std::string> ServerOverride() {
    const char* value = std::getenv(kServerOverrideVariable);
    if (value == nullptr) {
        return std::nullopt;
    }
    std::string origin(value);
    if (!origin.empty() && origin.back() == '/') {
        origin.pop_back();
    }
    std::string_view rest;
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (origin.rfind(scheme, 0) == 0) {
            rest = std::string_view(origin).substr(scheme.size());
        }
    }
    if (rest.empty() || rest.find_first_of("/?#@ \t\r\n") != std::string_view::npos) {
        return std::nullopt;
    }
    return origin;
}

std::string BuiltIn(const char* host, std::string_view path) {
    const std::optional<std::string> origin = ServerOverride();
    return (origin ? *origin : std::string("https://") + host) + std::string(path);
}

std::string Legacy(const char* host, std::string_view module) {
    return std::string("rsync://") + host + ":/" + std::string(module);
}

template <typename String>
String ReplaceFirstHttps(String address, const String& https, const String& http) {
    const auto at = address.find(https);
    if (at != String::npos) {
        address.replace(at, https.size(), http);
    }
    return address;
}

}  // namespace

std::string MainRepoAddress() {
    return BuiltIn(VELDMOOR_SYNC_HOST, "/srv/");
}

std::string BuildRepoAddress() {
    return BuiltIn(VELDMOOR_SYNC_HOST, "/bau/");
}

std::string LauncherRepoAddress() {
    return BuiltIn(VELDMOOR_SYNC_HOST, "/launcher/");
}

std::wstring NewsPageAddress() {
    // Built from ASCII host names and paths, so widening byte by byte is exact.
    const std::string narrow = BuiltIn(VELDMOOR_WEB_HOST, "/html/launcher.php");
    return std::wstring(narrow.begin(), narrow.end());
}

std::string LegacyMainAddress() {
    return Legacy(VELDMOOR_OLD_RSYNC_HOST_1, "Veldmoor.Patch");
}

std::string LegacyBuildAddressOnUpdateServer() {
    return Legacy(VELDMOOR_OLD_RSYNC_HOST_1, "Veldmoor.Bau");
}

std::string LegacyBuildAddressOnBuildServer() {
    return Legacy(VELDMOOR_OLD_RSYNC_HOST_2, "Veldmoor.Bau");
}

bool SupportsHttps() {
    return PlatformSupportsHttps() && !IsWine();
}

std::string ForceHttp(std::string address) {
    return ReplaceFirstHttps<std::string>(std::move(address), "https:", "http:");
}

std::wstring ForceHttp(std::wstring address) {
    return ReplaceFirstHttps<std::wstring>(std::move(address), L"https:", L"http:");
}

std::string AdjustScheme(std::string address) {
    return AdjustScheme(std::move(address), SupportsHttps());
}

std::wstring AdjustScheme(std::wstring address) {
    return AdjustScheme(std::move(address), SupportsHttps());
}

std::string AdjustScheme(std::string address, bool supportsHttps) {
    return supportsHttps ? address : ForceHttp(std::move(address));
}

std::wstring AdjustScheme(std::wstring address, bool supportsHttps) {
    return supportsHttps ? address : ForceHttp(std::move(address));
}

}  // namespace veldmoor
