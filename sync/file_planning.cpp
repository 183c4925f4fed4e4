#include "sync/file_planning.h"

#include <algorithm>
#include <optional>
#include <string>

#include "sync/early_layout.h"
#include "sync/file_sums.h"
#include "sync/http_transfer.h"
#include "sync/patch_file.h"
#include "sync/resume_data.h"
#include "sync/signed_content.h"
#include "sync/signed_metadata.h"

namespace veldmoor {
namespace {

// Every block of the plan was found at its own offset of the local copy.
bool blocksInPlace(const PreparedFile& prepared) {
    return std::all_of(prepared.plan.pieces.begin(), prepared.plan.pieces.end(),
                       [](const Piece& piece) { return piece.sourceOffset == piece.targetOffset; });
}

bool planNeedsNoBytes(const PreparedFile& prepared) {
    return prepared.hasLocalCopy && !prepared.sizeDiffers && prepared.downloads.empty() &&
           prepared.resumePath.empty();
}

// What a broken transfer of this version left is taken as a second local copy; resume data
// of another version, or that cannot be read, is removed.
void useResumeData(PreparedFile& planned, const ChunkIndex& index) {
    const std::string path = resumePathOf(planned.file.localPath);
    const PathKind kind = KindOf(path);
    if (kind == PathKind::Missing || kind == PathKind::Folder) {
        return;
    }
    const std::optional<ResumeRecord> record =
        kind == PathKind::File ? readResumeRecord(path) : std::nullopt;
    // A file fetched whole names its version by its signed hash (resumeTagOf).
    const bool sameVersion =
        record &&
        (record->crc == index.targetCrc ||
         (planned.signedContent != nullptr && record->crc == resumeTagOf(*planned.signedContent)));
    if (!sameVersion || record->time != planned.file.time || record->size != index.targetSize) {
        RemoveFile(path);
        return;
    }
    // Each block is checked against the index: a stretch damaged on the drive is fetched
    // again, rather than failing the file's check and losing everything kept.
    takeFromResume(planned.plan, checkedHeld(path, record->held, index.entries));
    planned.resumePath = path;
}

// A file with no local copy: one download of the whole file.
PreparedFile newFilePlan(const RemoteFile& file, std::uint32_t size) {
    PreparedFile planned;
    planned.file = file;
    planned.sizeDiffers = true;
    planGaps(planned.plan, size);
    return planned;
}

}  // namespace

PreparedFile planFromIndex(const RemoteFile& file, const LocalCopy& local,
                           const DocumentTransfer& transfer, ChunkIndexReader& reader,
                           const ManifestEntry* signedContent, bool verifyContent,
                           bool layOutEarly) {
    const std::string& path = file.repoPath;
    const bool tooLarge = transfer.passedWireLimit();
    if (transfer.state() != HttpTransfer::State::Done && !transfer.refused()) {
        throw transfer.failure();
    }
    if (tooLarge || !reader.finish()) {
        const std::string why =
            tooLarge ? "it is larger than " + std::to_string(kMaxChunkIndexBytes) + " bytes"
                     : reader.problem();
        throw PatchException(Failure::ServerDataInvalid, path,
                             "Chunk file for '" + path + "' is invalid: " + why + ".");
    }
    ChunkIndex index = std::move(reader.index());

    const bool hasLocalCopy = local.kind == PathKind::File;
    PreparedFile planned;
    planned.file = file;
    planned.hasLocalCopy = hasLocalCopy;
    // A missing local copy differs from any target, an empty one included: otherwise an
    // empty file would never be created and would be examined again on every run.
    planned.sizeDiffers = local.size != static_cast<std::int64_t>(index.targetSize);
    planned.signedContent = signedContent;
    if (signedContent != nullptr && signedContent->size != index.targetSize) {
        // Refused before a byte is fetched: no file built from this index can be signed.
        refuseUnverified(
            TrustCheck::ContentMismatch, path,
            "The chunk index of '" + path + "' describes " + std::to_string(index.targetSize) +
                " bytes, where the manifest signs " + std::to_string(signedContent->size) + ".");
    }
    std::optional<EarlyLayout> early;
    if (layOutEarly && hasLocalCopy && local.size >= kEarlyLayoutMinimum &&
        index.targetSize >= kEarlyLayoutMinimum) {
        early.emplace(file, index.targetSize, signedContent != nullptr);
    }
    planned.plan = buildBlockPlan(
        hasLocalCopy ? file.localPath : std::string(), index.entries, index.targetCrc,
        early ? MatchSink([&early](const Piece& piece, const unsigned char* bytes) {
            early->take(piece, bytes);
        })
              : MatchSink());
    if (early) {
        planned.laidOutEarly = early->release();
    }
    planGaps(planned.plan, index.targetSize);
    useResumeData(planned, index);
    if (local.contentDiffers) {
        planned.knownCurrent = false;
    } else if (verifyContent && signedContent == nullptr) {
        // Verified by the chunk index alone: every block at its own offset and the whole
        // file's CRC-32, neither enough without the other.
        planned.knownCurrent = planNeedsNoBytes(planned) && blocksInPlace(planned) &&
                               fileCrc32(file.localPath) == index.targetCrc;
    }
    return planned;
}

PreparedFile timeOnlyPlan(const RemoteFile& file, const ManifestEntry& signedEntry) {
    PreparedFile planned;
    planned.file = file;
    planned.hasLocalCopy = true;
    planned.signedContent = &signedEntry;
    planned.knownCurrent = true;
    if (signedEntry.size > 0) {
        Piece whole;
        whole.length = static_cast<std::uint32_t>(signedEntry.size);
        planned.plan.pieces.push_back(whole);
    }
    return planned;
}

PreparedFile wholeFilePlan(const RemoteFile& file, const ManifestEntry& signedEntry) {
    PreparedFile planned = newFilePlan(file, static_cast<std::uint32_t>(signedEntry.size));
    planned.signedContent = &signedEntry;
    planned.wholeFile = true;
    return planned;
}

PreparedFile summedFilePlan(const RemoteFile& file, const FileSum& sum) {
    PreparedFile planned = newFilePlan(file, sum.size);
    planned.plan.expectedCrc = sum.crc;
    return planned;
}

// A plan without downloads for a file of the same size holds every block, but a block found at
// another offset (blocks moved, or a repeated block taken from its first copy) says nothing
// about the bytes at its own place: the whole file's checksum decides then. With a manifest
// its hash decides, in one read: a copy the index calls current and the manifest does not is
// laid out afresh, and refused when it is sealed.
bool localCopyIsCurrent(const PreparedFile& prepared) {
    if (prepared.knownCurrent) {
        return *prepared.knownCurrent;
    }
    if (!planNeedsNoBytes(prepared)) {
        return false;
    }
    if (prepared.signedContent != nullptr) {
        const std::optional<ContentDigest> found = digestFile(prepared.file.localPath);
        return found && matchesEntry(*found, *prepared.signedContent);
    }
    return blocksInPlace(prepared) ||
           fileCrc32(prepared.file.localPath) == prepared.plan.expectedCrc;
}

std::uint64_t targetSizeOf(const PreparedFile& file) {
    const std::vector<Piece>& pieces = file.plan.pieces;
    return pieces.empty() ? 0 : std::uint64_t{pieces.back().targetOffset} + pieces.back().length;
}

}  // namespace veldmoor
