// The signed metadata of a repository: keys, the root of trust, the manifest, and the trusted
// state a client keeps between runs. Pure code over bytes (no network, no files beyond the
// state and key files), shared by the engine, veldmoor-publish and veldmoor-sync.
//
// Layout beside filelist.php and transfer/ (the unsigned files stay exactly as they are):
//   signed/manifest          the newest manifest
//   signed/root/<N>.root     root version N, for every N the repository has had
//
// Every signed file is a body followed by its signatures, all lines ending in "\n":
//   <body lines>
//   signature <public key, 64 lower-case hex digits> <Ed25519 signature, 128 hex digits>
// The signed bytes are the body exactly as it stands, up to and including the "\n" before the
// first "signature " line. Readers accept only the canonical form written below (fields in
// this order, one space between words, decimal numbers without leading zeros, lower-case
// hex), so that the bytes signed and their meaning cannot drift apart.
//
// Root body:                          Manifest body:
//   veldmoor-root 1                     veldmoor-manifest 1
//   version <N, from 1>                 version <N, from 1, always growing>
//   expires <seconds since 1970>        expires <seconds since 1970>
//   root-threshold <T>                  root-version <the root version that signs it>
//   root-key <hex>         (1 or more)  file <size> <sha256 hex> <listed time> <path>  (0 or more)
//   signing-threshold <S>
//   signing-key <hex>      (1 or more)
// A root is signed by T of its root keys; root N+1 also by the root threshold of root N's root
// keys. A manifest is signed by S of the signing keys of the root it names. Keys within a
// role are distinct; a signature by a key outside the role, or a second one by the same key,
// does not count.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/patch_exception.h"
#include "sync/remote_file.h"
#include "sync/repository_layout.h"

namespace veldmoor {

inline constexpr std::size_t kMaxRootBytes = 64 * 1024;
inline constexpr std::size_t kMaxManifestBytes = 16 * 1024 * 1024;

using PublicKey = std::array<std::uint8_t, 32>;
using PrivateKey = std::array<std::uint8_t, 32>;  // the Ed25519 seed
using Sha256Digest = std::array<std::uint8_t, 32>;

std::string toHex(const std::uint8_t* data, std::size_t size);
template <std::size_t N>
std::string toHex(const std::array<std::uint8_t, N>& bytes) {
    return toHex(bytes.data(), N);
}
// False unless `text` is exactly 2*N lower-case hex digits.
template <std::size_t N>
bool fromHex(std::string_view text, std::array<std::uint8_t, N>& out) {
    if (text.size() != 2 * N) {
        return false;
    }
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (std::size_t i = 0; i < N; ++i) {
        const int high = nibble(text[2 * i]);
        const int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
}

// Failure::NotVerified: the update was refused because it could not be verified. Its "Check"
// parameter says which check (TrustCheck), the English message the details, `detail` the file
// concerned where there is one.
enum class TrustCheck : std::uint32_t {
    Malformed = 1,        // not the canonical form, or over its bound
    Signatures = 2,       // fewer valid signatures of the role's keys than its threshold
    Rollback = 3,         // older than the version last trusted for this repository
    Expired = 4,          // past its expiry (a frozen repository)
    ChainBroken = 5,      // a root version missing, or not the next one
    ListMismatch = 6,     // filelist.php and the manifest disagree
    ContentMismatch = 7,  // a file's size or SHA-256 differs from the manifest's
    ManifestMissing = 8,  // a root is set but the repository has no manifest
    StateUnreadable = 9,  // the trusted state cannot be read or written
};
// The refusal of `check` (category 3, code 12), naming `detail`; refuseUnverified throws it.
PatchException unverified(TrustCheck check, std::string detail, std::string message);
[[noreturn]] void refuseUnverified(TrustCheck check, std::string detail, std::string message);

struct RootDocument {
    std::uint64_t version = 0;
    std::int64_t expires = 0;
    std::uint32_t rootThreshold = 1;
    std::vector<PublicKey> rootKeys;
    std::uint32_t signingThreshold = 1;
    std::vector<PublicKey> signingKeys;
    std::string text;  // the whole signed file as read (body and signatures)
};

struct ManifestEntry {
    std::string path;  // the repository path exactly as the file list writes it
    std::uint64_t size = 0;
    Sha256Digest sha256{};
    std::int64_t time = 0;
};

struct Manifest {
    std::uint64_t version = 0;
    std::int64_t expires = 0;
    std::uint64_t rootVersion = 0;
    std::vector<ManifestEntry> files;
};

// Readers of outside data: throw PatchException (refuseUnverified, TrustCheck::Malformed)
// for anything but the canonical form. They check the form only, not the signatures.
// `source` names the file in the refusal (the root's path, or the anchor's file); empty names
// it by its kind.
RootDocument parseRoot(std::string_view text, std::string_view source = {});
Manifest parseManifest(std::string_view text, std::string_view source = kManifestPath);

// Writers of the canonical bodies (without signatures).
std::string formatRootBody(const RootDocument& root);
std::string formatManifestBody(const Manifest& manifest);
// The body followed by one signature line per key, in the order given.
std::string signBody(std::string_view body, const std::vector<PrivateKey>& keys);

// Verification. `now` is seconds since 1970.
// A root signed by its own root threshold (the anchor a client is given, or the first root).
void verifySelfSignedRoot(const RootDocument& root);
// Walks from `trusted` through `newer` (versions trusted+1, +2, ... in order): each must be the
// next version and signed by the threshold of the previous root and of its own. The last one
// reached must not have expired. Returns the newest root.
RootDocument walkRootChain(const RootDocument& trusted, const std::vector<std::string>& newer,
                           std::int64_t now);
// A manifest signed by the root's signing threshold, naming that root's version, no older than
// `lastTrustedVersion` and not expired.
Manifest verifyManifest(std::string_view text, const RootDocument& root,
                        std::uint64_t lastTrustedVersion, std::int64_t now);
// Every listed file is in the manifest with the same time, and every manifest entry is listed.
void checkListAgainstManifest(const std::vector<RemoteFile>& list, const Manifest& manifest);

// SHA-256 in pieces, at the disk's speed (the processor's SHA extensions where it has them).
class Sha256Hasher {
public:
    Sha256Hasher();
    ~Sha256Hasher();
    Sha256Hasher(const Sha256Hasher&) = delete;
    Sha256Hasher& operator=(const Sha256Hasher&) = delete;
    void update(const void* data, std::size_t size);
    Sha256Digest finish();

private:
    struct Impl;
    Impl* impl_;
};

// Key files. A private key file holds "veldmoor-ed25519-private <64 hex>\n" and is readable by
// its owner only; a public one "veldmoor-ed25519-public <64 hex>\n".
struct KeyPair {
    PrivateKey privateKey{};
    PublicKey publicKey{};
};
KeyPair generateKeyPair();
PublicKey publicKeyOf(const PrivateKey& key);
std::string formatPrivateKeyFile(const PrivateKey& key);
std::string formatPublicKeyFile(const PublicKey& key);
std::optional<PrivateKey> parsePrivateKeyFile(std::string_view text);
std::optional<PublicKey> parsePublicKeyFile(std::string_view text);

// What a client trusts of one repository between runs: the newest root it verified and the
// newest manifest version it accepted. Stored as
//   veldmoor-trust 1\nmanifest-version <N>\n<the root file's bytes>
struct TrustState {
    std::string rootText;
    std::uint64_t manifestVersion = 0;
};
std::string formatTrustState(const TrustState& state);
std::optional<TrustState> parseTrustState(std::string_view text);
// The state file's name inside the state folder for one repository address.
std::string trustStateFileName(std::string_view repoAddress);

}  // namespace veldmoor
