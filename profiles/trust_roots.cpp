#include "profiles/trust_roots.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "profiles/addresses.h"
#include "system/path.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

// The root file's bytes as the build found them (VELDMOOR_TRUST_ROOT), followed by a NUL
// that is not part of them, so that an empty root still makes an array.
constexpr unsigned char kBuiltInRootBytes[] = {
#include "built_in_trust_root.inc"
    0};

Result<std::string> ReadOverride(const char* path) {
    std::ifstream file(PathFromUtf8(path), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.is_open() || file.bad() || bytes.empty()) {
        return Status::Failed(std::string("The root of trust '") + path + "' named by " +
                              kTrustRootOverrideVariable +
                              " cannot be read; correct the variable or remove it.");
    }
    return bytes;
}

}  // namespace

Result<std::string> BuiltInTrustRoot() {
    if (const char* path = std::getenv(kTrustRootOverrideVariable); path != nullptr && *path)
        return ReadOverride(path);
    return std::string(reinterpret_cast<const char*>(kBuiltInRootBytes),
                       sizeof kBuiltInRootBytes - 1);
}

bool IsBuiltInGameRepository(const std::string& address) {
    for (const std::string& builtIn : {MainRepoAddress(), BuildRepoAddress()}) {
        if (EqualsNoCase(address, builtIn) || EqualsNoCase(address, ForceHttp(builtIn)))
            return true;
    }
    return false;
}

Result<std::string> TrustRootForGameRepository(const std::string& address) {
    return IsBuiltInGameRepository(address) ? BuiltInTrustRoot() : std::string();
}

}  // namespace veldmoor
