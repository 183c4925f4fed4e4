// A file's content against its manifest entry (sync/signed_metadata.h): size and SHA-256,
// read once at the drive's speed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sync/signed_metadata.h"

namespace veldmoor {

struct ContentDigest {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

// Reads the file at `localPath` once; nullopt when it cannot be opened or read.
std::optional<ContentDigest> digestFile(const std::string& localPath);

bool matchesEntry(const ContentDigest& found, const ManifestEntry& entry);

// The ContentMismatch refusal for `name` (a repository path or a local one), saying what was
// found and what the manifest holds.
[[noreturn]] void refuseContent(const std::string& name, const ContentDigest& found,
                                const ManifestEntry& entry);

// Stands in for the chunk index's CRC-32 in the resume record of a file fetched whole without
// its index, so that the next run can tell that the record belongs to this version.
std::uint32_t resumeTagOf(const ManifestEntry& entry);

}  // namespace veldmoor
