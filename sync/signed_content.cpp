#include "sync/signed_content.h"

#include <fstream>
#include <vector>

#include "sync/repo_sync.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

// Large reads keep the hash, not the system calls, the limit.
constexpr std::size_t kReadBlock = 1024 * 1024;

}  // namespace

std::optional<ContentDigest> digestFile(const std::string& localPath) {
    std::ifstream in(PathFromUtf8(localPath), std::ios::binary);
    if (!in.is_open()) {
        return std::nullopt;
    }
    in.rdbuf()->pubsetbuf(nullptr, 0);  // the blocks go straight to the hash
    std::vector<char> block(kReadBlock);
    Sha256Hasher hasher;
    ContentDigest found;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = in.gcount();
        if (got <= 0) {
            break;
        }
        hasher.update(block.data(), static_cast<std::size_t>(got));
        found.size += static_cast<std::uint64_t>(got);
    }
    if (in.bad()) {
        return std::nullopt;
    }
    found.sha256 = hasher.finish();
    return found;
}

bool matchesEntry(const ContentDigest& found, const ManifestEntry& entry) {
    return found.size == entry.size && found.sha256 == entry.sha256;
}

void refuseContent(const std::string& name, const ContentDigest& found,
                   const ManifestEntry& entry) {
    refuseUnverified(TrustCheck::ContentMismatch, name,
                     "The content of '" + name + "' is not what the manifest signs: " +
                         std::to_string(found.size) + " bytes with SHA-256 " + toHex(found.sha256) +
                         ", where the manifest has " + std::to_string(entry.size) +
                         " bytes with SHA-256 " + toHex(entry.sha256) +
                         ". The file was left as it was.");
}

std::uint32_t resumeTagOf(const ManifestEntry& entry) {
    return (std::uint32_t{entry.sha256[0]} << 24) | (std::uint32_t{entry.sha256[1]} << 16) |
           (std::uint32_t{entry.sha256[2]} << 8) | std::uint32_t{entry.sha256[3]};
}

void checkSignedFile(const std::string& localPath, const ManifestEntry& entry) {
    const std::optional<ContentDigest> found = digestFile(localPath);
    if (!found) {
        refuseUnverified(
            TrustCheck::ContentMismatch, localPath,
            "The file '" + localPath + "' cannot be read to check it against the manifest.");
    }
    if (!matchesEntry(*found, entry)) {
        refuseContent(localPath, *found, entry);
    }
}

}  // namespace veldmoor
