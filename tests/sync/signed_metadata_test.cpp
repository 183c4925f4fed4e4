#include "sync/signed_metadata.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sync/patch_exception.h"

namespace veldmoor {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;
constexpr std::int64_t kLater = kNow + 86'400;

PrivateKey keyNumber(std::uint8_t n) {
    PrivateKey key{};
    key.fill(n);
    return key;
}

std::vector<PublicKey> publicKeys(const std::vector<PrivateKey>& keys) {
    std::vector<PublicKey> result;
    for (const PrivateKey& key : keys) {
        result.push_back(publicKeyOf(key));
    }
    return result;
}

// Keys 1 and 2 hold the root of version 1, keys 3 and 4 the root of version 2; keys 10 and 11
// sign manifests; key 99 belongs to nobody.
struct Keys {
    PrivateKey root1 = keyNumber(1), root2 = keyNumber(2), root3 = keyNumber(3),
               root4 = keyNumber(4), signing = keyNumber(10), signing2 = keyNumber(11),
               stranger = keyNumber(99);
};

RootDocument rootBody(std::uint64_t version, std::vector<PrivateKey> rootKeys,
                      std::uint32_t rootThreshold, std::vector<PrivateKey> signingKeys,
                      std::uint32_t signingThreshold = 1) {
    RootDocument root;
    root.version = version;
    root.expires = kLater;
    root.rootThreshold = rootThreshold;
    root.rootKeys = publicKeys(rootKeys);
    root.signingThreshold = signingThreshold;
    root.signingKeys = publicKeys(signingKeys);
    return root;
}

std::string signedRoot(const RootDocument& root, const std::vector<PrivateKey>& signers) {
    return signBody(formatRootBody(root), signers);
}

Manifest manifestBody(std::uint64_t version = 7, std::uint64_t rootVersion = 1) {
    Manifest manifest;
    manifest.version = version;
    manifest.expires = kLater;
    manifest.rootVersion = rootVersion;
    manifest.files = {{"Launcher.exe", 3, {}, 1'700'000'000}, {"data/a b.mul", 0, {}, 5}};
    manifest.files[0].sha256.fill(0xab);
    return manifest;
}

std::vector<RemoteFile> listOf(const Manifest& manifest) {
    std::vector<RemoteFile> list;
    for (const ManifestEntry& entry : manifest.files) {
        list.push_back({"/install/" + entry.path, entry.path, entry.time});
    }
    return list;
}

std::string replaceOnce(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The first root (keys 1 and 2, threshold 2, signing key 10) and its successor (keys 2, 3, 4,
// threshold 2, signing keys 10 and 11) as a repository publishes them.
struct Chain {
    Keys k;
    RootDocument first =
        parseRoot(signedRoot(rootBody(1, {k.root1, k.root2}, 2, {k.signing}), {k.root1, k.root2}));
    RootDocument secondBody = rootBody(2, {k.root2, k.root3, k.root4}, 2, {k.signing, k.signing2});
    std::string second = signedRoot(secondBody, {k.root1, k.root2, k.root3});

    RootDocument walk(const std::vector<std::string>& newer, std::int64_t now = kNow) const {
        verifySelfSignedRoot(first);
        return walkRootChain(first, newer, now);
    }
    Manifest verify(const std::string& text, std::uint64_t lastTrusted = 0,
                    std::int64_t now = kNow) const {
        return verifyManifest(text, first, lastTrusted, now);
    }
    std::string manifest(const Manifest& body) const {
        return signBody(formatManifestBody(body), {k.signing});
    }
    std::string manifest() const { return manifest(manifestBody()); }
};

struct TamperCase {
    const char* name;
    std::function<void(const Chain&)> act;
    std::optional<TrustCheck> refusedBy;  // empty: accepted
};

class SignedMetadataTamper : public testing::TestWithParam<TamperCase> {};

TEST_P(SignedMetadataTamper, RefusesByTheNamedCheckOrAccepts) {
    const Chain chain;
    const TamperCase& c = GetParam();
    if (!c.refusedBy) {
        EXPECT_NO_THROW(c.act(chain));
        return;
    }
    try {
        c.act(chain);
        FAIL() << "accepted";
    } catch (const PatchException& e) {
        EXPECT_EQ(e.category, 3);
        EXPECT_EQ(e.code, 12);
        EXPECT_EQ(e.params.at("Check"), static_cast<std::uint32_t>(*c.refusedBy)) << e.what();
        EXPECT_FALSE(e.detail.empty()) << e.what();
        EXPECT_NE(std::string(e.what()).find(e.detail), std::string::npos) << e.what();
    }
}

// A valid manifest text with one replacement, parsed for its form.
TamperCase manifestForm(const char* name, std::string from, std::string to) {
    return {name,
            [from, to](const Chain& c) { parseManifest(replaceOnce(c.manifest(), from, to)); },
            TrustCheck::Malformed};
}

TamperCase rootForm(const char* name, std::string from, std::string to) {
    return {
        name,
        [from, to](const Chain& c) { parseRoot(replaceOnce(c.second, from, to), rootPathFor(2)); },
        TrustCheck::Malformed};
}

std::string hexOf(std::uint8_t n) {
    return toHex(publicKeyOf(keyNumber(n)));
}

const TamperCase kCases[] = {
    {"ManifestAsPublished", [](const Chain& c) { c.verify(c.manifest(), 7); }, std::nullopt},
    {"ManifestBodyByteChanged",
     [](const Chain& c) { c.verify(replaceOnce(c.manifest(), "a b.mul", "a c.mul")); },
     TrustCheck::Signatures},
    {"ManifestUnsigned", [](const Chain& c) { c.verify(formatManifestBody(manifestBody())); },
     TrustCheck::Signatures},
    {"ManifestSignedByUnknownKey",
     [](const Chain& c) {
         c.verify(signBody(formatManifestBody(manifestBody()), {c.k.stranger, c.k.root1}));
     },
     TrustCheck::Signatures},
    {"ManifestSignatureOfAnotherBody",
     [](const Chain& c) {
         const std::string other = c.manifest(manifestBody(8));
         const std::string body = formatManifestBody(manifestBody());
         c.verify(body + other.substr(other.find("signature ")));
     },
     TrustCheck::Signatures},
    {"SigningThresholdNotMet",
     [](const Chain& c) {
         RootDocument two = c.secondBody;
         two.signingThreshold = 2;
         const RootDocument strict = c.walk({signedRoot(two, {c.k.root1, c.k.root2, c.k.root3})});
         verifyManifest(c.manifest(manifestBody(7, 2)), strict, 0, kNow);
     },
     TrustCheck::Signatures},
    {"SigningThresholdMetByTwoKeys",
     [](const Chain& c) {
         RootDocument two = c.secondBody;
         two.signingThreshold = 2;
         const RootDocument strict = c.walk({signedRoot(two, {c.k.root1, c.k.root2, c.k.root3})});
         verifyManifest(
             signBody(formatManifestBody(manifestBody(7, 2)), {c.k.signing2, c.k.signing}), strict,
             0, kNow);
     },
     std::nullopt},
    {"DuplicateSignatureCountedOnce",
     [](const Chain& c) {
         RootDocument two = c.secondBody;
         two.signingThreshold = 2;
         const RootDocument strict = c.walk({signedRoot(two, {c.k.root1, c.k.root2, c.k.root3})});
         verifyManifest(
             signBody(formatManifestBody(manifestBody(7, 2)), {c.k.signing, c.k.signing}), strict,
             0, kNow);
     },
     TrustCheck::Signatures},
    {"RootSignedTwiceByOneKey",
     [](const Chain& c) {
         verifySelfSignedRoot(parseRoot(signedRoot(
             rootBody(1, {c.k.root1, c.k.root2}, 2, {c.k.signing}), {c.k.root1, c.k.root1})));
     },
     TrustCheck::Signatures},
    {"ManifestRolledBack", [](const Chain& c) { c.verify(c.manifest(), 8); }, TrustCheck::Rollback},
    {"ManifestExpired", [](const Chain& c) { c.verify(c.manifest(), 0, kLater); },
     TrustCheck::Expired},
    {"ManifestOfAnOlderRoot",
     [](const Chain& c) { verifyManifest(c.manifest(), c.walk({c.second}), 0, kNow); },
     TrustCheck::Rollback},
    {"ManifestOfARootNotReached", [](const Chain& c) { c.verify(c.manifest(manifestBody(7, 2))); },
     TrustCheck::ChainBroken},
    {"RootExpired", [](const Chain& c) { c.walk({}, kLater); }, TrustCheck::Expired},
    {"NewestRootExpired", [](const Chain& c) { c.walk({c.second}, kLater); }, TrustCheck::Expired},
    {"RotationSignedByBothThresholds",
     [](const Chain& c) {
         const RootDocument newest = c.walk({c.second});
         EXPECT_EQ(newest.version, 2u);
         EXPECT_EQ(newest.text, c.second);
         verifyManifest(c.manifest(manifestBody(7, 2)), newest, 7, kNow);
     },
     std::nullopt},
    {"RotationSignedOnlyByTheNewKeys",
     [](const Chain& c) {
         c.walk({signedRoot(c.secondBody, {c.k.root3, c.k.root4})});
     },
     TrustCheck::Signatures},
    {"RotationSignedOnlyByTheOldKeys",
     [](const Chain& c) {
         c.walk({signedRoot(c.secondBody, {c.k.root1, c.k.root2})});
     },
     TrustCheck::Signatures},
    {"RotationBodyByteChanged",
     [](const Chain& c) {
         c.walk({replaceOnce(c.second, "signing-threshold 1", "signing-threshold 2")});
     },
     TrustCheck::Signatures},
    {"ChainWithAGap",
     [](const Chain& c) {
         RootDocument third = c.secondBody;
         third.version = 3;
         c.walk({signedRoot(third, {c.k.root1, c.k.root2, c.k.root3})});
     },
     TrustCheck::ChainBroken},
    {"ChainRepeatsTheTrustedVersion", [](const Chain& c) { c.walk({c.first.text}); },
     TrustCheck::ChainBroken},
    {"ListedFileMissingFromManifest",
     [](const Chain& c) {
         auto list = listOf(manifestBody());
         list.push_back({"/install/extra", "extra", 1});
         checkListAgainstManifest(list, c.verify(c.manifest()));
     },
     TrustCheck::ListMismatch},
    {"ManifestFileNotListed",
     [](const Chain& c) {
         auto list = listOf(manifestBody());
         list.pop_back();
         checkListAgainstManifest(list, c.verify(c.manifest()));
     },
     TrustCheck::ListMismatch},
    {"ListedTimeDiffers",
     [](const Chain& c) {
         auto list = listOf(manifestBody());
         list[1].time = 6;
         checkListAgainstManifest(list, c.verify(c.manifest()));
     },
     TrustCheck::ListMismatch},
    {"ListMatchesManifest",
     [](const Chain& c) {
         checkListAgainstManifest(listOf(manifestBody()), c.verify(c.manifest()));
     },
     std::nullopt},
    manifestForm("LeadingZero", "version 7", "version 07"),
    manifestForm("VersionZero", "version 7", "version 0"),
    manifestForm("SignedNumber", "version 7", "version +7"),
    manifestForm("NumberTooLarge", "version 7", "version 18446744073709551616"),
    manifestForm("UpperCaseHash", "abababab", "ABABABAB"),
    manifestForm("ShortHash", " abababab", " ababab"),
    manifestForm("ExtraSpace", "version 7", "version  7"),
    manifestForm("TrailingSpaceInHeader", "veldmoor-manifest 1", "veldmoor-manifest 1 "),
    manifestForm("CarriageReturn", "version 7\n", "version 7\r\n"),
    manifestForm("OtherHeader", "veldmoor-manifest 1", "veldmoor-manifest 2"),
    manifestForm("MissingExpiry", "expires 1800086400\n", ""),
    manifestForm("DuplicateField", "version 7\n", "version 7\nversion 7\n"),
    manifestForm("FieldsOutOfOrder", "version 7\nexpires 1800086400\n",
                 "expires 1800086400\nversion 7\n"),
    manifestForm("EmptyPath", " 5 data/a b.mul\n", " 5 \n"),
    manifestForm("PathWithNul", "data/a b.mul", std::string("data/a\0b.mul", 11)),
    manifestForm("DuplicatePath", "data/a b.mul", "Launcher.exe"),
    manifestForm("FileLineCut", " 5 data/a b.mul\n", "\n"),
    manifestForm("EmptyLine", "root-version 1\n", "root-version 1\n\n"),
    {"BodyAfterSignature",
     [](const Chain& c) {
         parseManifest(c.manifest() + "file 1 " + std::string(64, 'a') + " 1 x\n");
     },
     TrustCheck::Malformed},
    manifestForm("UpperCaseSignature", "signature " + hexOf(10) + " ",
                 "signature " + hexOf(10) + " A"),
    {"NoFinalLineEnd",
     [](const Chain&) { parseManifest(formatManifestBody(manifestBody()) + "x"); },
     TrustCheck::Malformed},
    {"OverTheBound",
     [](const Chain& c) {
         Manifest big = manifestBody();
         for (int i = 0; big.files.size() * 80 < kMaxManifestBytes + 100; ++i) {
             big.files.push_back({"f/" + std::to_string(i), 1, {}, 1});
         }
         c.verify(c.manifest(big));
     },
     TrustCheck::Malformed},
    rootForm("RootThresholdZero", "root-threshold 2", "root-threshold 0"),
    rootForm("RootThresholdAboveKeys", "root-threshold 2", "root-threshold 4"),
    rootForm("SigningThresholdAboveKeys", "signing-threshold 1", "signing-threshold 3"),
    rootForm("DuplicateRootKey", "root-key " + hexOf(3), "root-key " + hexOf(2)),
    rootForm("DuplicateSigningKey", "signing-key " + hexOf(11), "signing-key " + hexOf(10)),
    rootForm("NoSigningKey", "signing-key " + hexOf(10) + "\nsigning-key " + hexOf(11) + "\n", ""),
    rootForm("UnknownField", "signing-threshold", "comment x\nsigning-threshold"),
    rootForm("NegativeExpiry", "expires ", "expires -"),
};

INSTANTIATE_TEST_SUITE_P(Cases, SignedMetadataTamper, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SignedMetadata, DocumentsSurviveTheirCanonicalForm) {
    const Chain chain;
    const RootDocument root = parseRoot(chain.second);
    EXPECT_EQ(formatRootBody(root), formatRootBody(chain.secondBody));
    EXPECT_EQ(root.text, chain.second);

    const Manifest written = manifestBody();
    const Manifest read = parseManifest(chain.manifest(written));
    EXPECT_EQ(formatManifestBody(read), formatManifestBody(written));
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_EQ(read.files[1].path, "data/a b.mul");
    EXPECT_EQ(read.files[0].sha256, written.files[0].sha256);

    const TrustState state{chain.second, 12};
    const auto back = parseTrustState(formatTrustState(state));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->rootText, state.rootText);
    EXPECT_EQ(back->manifestVersion, 12u);
    EXPECT_FALSE(parseTrustState(replaceOnce(formatTrustState(state), "12", "012")));
    EXPECT_FALSE(parseTrustState(formatTrustState(state).substr(0, 60)));

    const KeyPair pair = generateKeyPair();
    EXPECT_EQ(publicKeyOf(pair.privateKey), pair.publicKey);
    EXPECT_NE(generateKeyPair().privateKey, pair.privateKey);
    EXPECT_EQ(parsePrivateKeyFile(formatPrivateKeyFile(pair.privateKey)), pair.privateKey);
    EXPECT_EQ(parsePublicKeyFile(formatPublicKeyFile(pair.publicKey)), pair.publicKey);
    EXPECT_FALSE(parsePublicKeyFile(formatPrivateKeyFile(pair.privateKey)));
    std::string upper = formatPublicKeyFile(pair.publicKey);
    for (char& ch : upper) {
        ch = ch >= 'a' && ch <= 'f' ? static_cast<char>(ch - 'a' + 'A') : ch;
    }
    EXPECT_FALSE(parsePublicKeyFile(upper));

    EXPECT_EQ(trustStateFileName("http://a/games/"), trustStateFileName("http://a/games"));
    EXPECT_NE(trustStateFileName("http://a/games"), trustStateFileName("http://b/games"));
    EXPECT_EQ(rootPathFor(12), "signed/root/12.root");
}

TEST(SignedMetadata, HashesInPiecesAsInOne) {
    const std::string text = "the quick brown fox jumps over the lazy dog";
    Sha256Hasher whole;
    whole.update(text.data(), text.size());
    Sha256Hasher pieces;
    pieces.update(text.data(), 5);
    pieces.update(text.data() + 5, text.size() - 5);
    const Sha256Digest digest = pieces.finish();
    EXPECT_EQ(digest, whole.finish());
    Sha256Hasher empty;
    EXPECT_EQ(toHex(empty.finish()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace veldmoor
