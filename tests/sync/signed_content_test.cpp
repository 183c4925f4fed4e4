// checkSignedFile: the check for a signed file the engine did not put in place itself.
#include <gtest/gtest.h>

#include "sync/patch_exception.h"
#include "sync/repo_sync.h"
#include "sync/signed_metadata.h"
#include "sync_fixture.h"

namespace veldmoor {
namespace {

ManifestEntry EntryFor(const std::string& content) {
    Sha256Hasher hasher;
    hasher.update(content.data(), content.size());
    return {"a.bin", content.size(), hasher.finish(), 1'600'000'000};
}

TEST(CheckSignedFile, PassesTheSignedContentAndRefusesAnyOtherNamingTheFile) {
    const test::TempFolder root;
    const std::string path = root / "a.bin";
    test::writeFile(path, "signed bytes");
    EXPECT_NO_THROW(checkSignedFile(path, EntryFor("signed bytes")));

    for (const char* other : {"signed byteS", "signed bytes!", ""}) {
        try {
            checkSignedFile(path, EntryFor(other));
            ADD_FAILURE() << "accepted against '" << other << "'";
        } catch (const PatchException& e) {
            EXPECT_EQ(e.code, 12);
            EXPECT_EQ(e.params.at("Check"),
                      static_cast<std::uint32_t>(TrustCheck::ContentMismatch));
            EXPECT_EQ(e.detail, path);
        }
    }
    EXPECT_THROW(checkSignedFile(root / "missing.bin", EntryFor("")), PatchException);
}

}  // namespace
}  // namespace veldmoor
