// The temporary file a rebuild writes, with the check that reads it back as it lies on the
// drive: the CRC-32 of the chunk index and, for a signed file, the manifest's size and SHA-256,
// taken in one read that follows the writes of a large file rather than waiting for the last.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "sync/signed_content.h"
#include "sync/signed_metadata.h"
#include "system/new_file.h"

namespace veldmoor {

class ReadBackCheck {
public:
    // `crc`: the CRC-32 is taken; `sha`: the SHA-256 is, which reads the file in order.
    ReadBackCheck(bool crc, bool sha) : takesCrc_(crc), takesSha_(sha) { restart(); }

    // Reads `file` back into this check behind its writes (NewFile::ReadBackWhileWriting); what
    // was read is forgotten each time FinishReadBack has to start over.
    void follow(NewFile& file);

    // Forgets what was read.
    void restart();

    // The CRC-32 of the file read; none unless it was read whole, as one stretch from its start.
    std::optional<std::uint32_t> crc() const;
    // The size read and, for a signed file, the SHA-256: finishes the hash.
    ContentDigest digest();

private:
    void take(std::uint64_t offset, const char* data, std::size_t length);

    struct Stretch {
        std::uint64_t end;
        std::uint32_t crc;
    };

    bool takesCrc_;
    bool takesSha_;
    // The CRC-32s of the stretches read, by start: neighbours are put together as they meet.
    std::map<std::uint64_t, Stretch> stretches_;
    std::optional<Sha256Hasher> sha_;
    ContentDigest found_;
};

// The file is declared after its check, so that it goes first: its end stops the reading that
// fills the check.
struct RebuildTarget {
    std::unique_ptr<ReadBackCheck> check;
    std::unique_ptr<NewFile> file;

    explicit operator bool() const { return file != nullptr; }
};

}  // namespace veldmoor
