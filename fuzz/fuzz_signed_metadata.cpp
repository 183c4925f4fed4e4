// The readers of the signed root, the manifest, the trusted state and the key files. Each input
// is given to every reader: what one accepts must be exactly what its writer produces, so that
// the bytes signed and the meaning read cannot differ.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sync/patch_exception.h"
#include "sync/signed_metadata.h"

using namespace veldmoor;

namespace {

// The accepted text is the canonical body followed by nothing but signature lines.
void checkSignedForm(std::string_view text, const std::string& body) {
    FUZZ_CHECK(text.substr(0, body.size()) == body);
    const std::string_view rest = text.substr(body.size());
    FUZZ_CHECK(rest.empty() || rest.substr(0, 10) == "signature ");
}

void readRoot(std::string_view text) {
    RootDocument root;
    try {
        root = parseRoot(text);
    } catch (const PatchException& e) {
        FUZZ_CHECK(e.cause() == Failure::NotVerified && e.category == 3);
        return;
    }
    FUZZ_CHECK(root.text == text);
    FUZZ_CHECK(root.version >= 1);
    FUZZ_CHECK(root.rootThreshold >= 1 && root.rootThreshold <= root.rootKeys.size());
    FUZZ_CHECK(root.signingThreshold >= 1 && root.signingThreshold <= root.signingKeys.size());
    checkSignedForm(text, formatRootBody(root));
    try {
        verifySelfSignedRoot(root);
        walkRootChain(root, {}, 0);
    } catch (const PatchException& e) {
        FUZZ_CHECK(e.cause() == Failure::NotVerified && e.category == 3);
    }
}

void readManifest(std::string_view text) {
    Manifest manifest;
    try {
        manifest = parseManifest(text);
    } catch (const PatchException& e) {
        FUZZ_CHECK(e.cause() == Failure::NotVerified && e.category == 3);
        return;
    }
    for (const ManifestEntry& entry : manifest.files) {
        FUZZ_CHECK(!entry.path.empty() && entry.time >= 0);
    }
    checkSignedForm(text, formatManifestBody(manifest));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    readRoot(text);
    readManifest(text);
    if (const auto state = parseTrustState(text)) {
        FUZZ_CHECK(formatTrustState(*state) == text);
    }
    if (const auto key = parsePrivateKeyFile(text)) {
        FUZZ_CHECK(formatPrivateKeyFile(*key) == text);
    }
    if (const auto key = parsePublicKeyFile(text)) {
        FUZZ_CHECK(formatPublicKeyFile(*key) == text);
    }
    return 0;
}
