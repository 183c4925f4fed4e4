#include "sync/patch_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <vector>

#include "sync/file_list.h"
#include "sync/http.h"
#include "sync/patch_exception.h"
#include "sync/range_receiver.h"
#include "sync/trace.h"
#include "system/file_ops.h"
#include "system/path.h"

namespace veldmoor {
namespace {

constexpr int kMaxFolderSteps = 32;

[[noreturn]] void fail(int category, int code, const std::string& detail,
                       const std::string& message, PatchException::Params params = {}) {
    throw PatchException(category, code, detail, message, std::move(params));
}

// CRC-32 of what layOutTarget wrote: for the first piece of each run of local pieces that are
// contiguous in both files, the run's CRC and length; zero length for the run's other pieces.
struct LaidOutCrcs {
    std::vector<std::uint32_t> crc;
    std::vector<std::uint64_t> length;
};

// Writes the local pieces of the target at their offsets. Pieces that follow one another in
// the local copy and in the target are copied as one run, with one seek on each side only
// where the position changes: an old version with a few changes becomes a handful of long
// copies instead of one small read, write and seek per block. Download pieces are left as
// holes for the range answers to fill. False when a local piece can no longer be read in full
// (the copy changed since it was planned): the layout ends there and the checksum tells.
bool layOutTarget(const BlockPlan& plan, std::ifstream* local, std::ofstream& out,
                  LaidOutCrcs& crcs) {
    std::vector<char> block(kCopyBlockSize);
    const std::vector<Piece>& pieces = plan.pieces;
    crcs.crc.assign(pieces.size(), 0);
    crcs.length.assign(pieces.size(), 0);
    std::uint64_t outAt = UINT64_MAX;  // unknown until the first write
    std::uint64_t localAt = UINT64_MAX;
    for (std::size_t i = 0; i < pieces.size();) {
        if (pieces[i].kind == kPieceDownload) {
            ++i;
            continue;
        }
        if (local == nullptr) {
            return false;
        }
        std::uint64_t runLength = pieces[i].length;
        std::size_t next = i + 1;
        while (next < pieces.size() && pieces[next].kind != kPieceDownload &&
               pieces[next].targetOffset == pieces[i].targetOffset + runLength &&
               pieces[next].sourceOffset == pieces[i].sourceOffset + runLength) {
            runLength += pieces[next].length;
            ++next;
        }
        if (outAt != pieces[i].targetOffset) {
            out.seekp(pieces[i].targetOffset);
        }
        if (localAt != pieces[i].sourceOffset) {
            local->clear();
            local->seekg(pieces[i].sourceOffset);
        }
        uLong crc = crc32(0L, Z_NULL, 0);
        for (std::uint64_t left = runLength; left > 0;) {
            const auto n =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kCopyBlockSize));
            local->read(block.data(), n);
            const auto got = static_cast<std::uint32_t>(local->gcount());
            out.write(block.data(), got);
            if (got < n) {
                return false;
            }
            crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), got);
            left -= n;
        }
        crcs.crc[i] = static_cast<std::uint32_t>(crc);
        crcs.length[i] = runLength;
        outAt = pieces[i].targetOffset + runLength;
        localAt = pieces[i].sourceOffset + runLength;
        i = next;
    }
    return !out.fail();
}

// The whole file's CRC-32 from the CRC-32 of each run and download as it was written, so the
// rebuilt file need not be read again. Empty when some piece's bytes are not known in full.
std::optional<std::uint32_t> crcOfWrittenPieces(const BlockPlan& plan, const LaidOutCrcs& crcs,
                                                const RangeReceiver* receiver) {
    const std::vector<std::uint32_t> none;
    const auto& downloaded = receiver != nullptr ? receiver->pieceCrcs() : none;
    if (receiver != nullptr && !receiver->piecesWhole()) {
        return std::nullopt;
    }
    std::size_t next = 0;
    std::uint64_t end = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    for (std::size_t i = 0; i < plan.pieces.size(); ++i) {
        const Piece& piece = plan.pieces[i];
        if (piece.targetOffset != end) {
            return std::nullopt;  // not one stretch of bytes: only the file itself can tell
        }
        end += piece.length;
        if (piece.kind == kPieceDownload) {
            if (next == downloaded.size()) {
                return std::nullopt;
            }
            crc = crc32_combine(crc, downloaded[next++], static_cast<z_off_t>(piece.length));
        } else if (crcs.length[i] > 0) {
            crc = crc32_combine(crc, crcs.crc[i], static_cast<z_off_t>(crcs.length[i]));
        }
    }
    return static_cast<std::uint32_t>(crc);
}

}  // namespace

void patchFile(const PreparedFile& file, const std::string& repoAddress, CURL* handle,
               const ProgressCallback& progress) {
    const std::string& path = file.file.repoPath;
    const std::string& localPath = file.file.localPath;
    const std::string tempPath = localPath + ".tmp";

    if (!isSafeRepoPath(path) || !ensureParentFolder(tempPath)) {
        fail(0, 2, path, "Couldn't create directory for '" + path + "'!");
    }
    std::ofstream out(tempPath, std::ios::binary | std::ios::trunc);
    if (!out.is_open()) {
        fail(0, 3, path + ".tmp", "Couldn't open temporary file '" + path + ".tmp" + "'!");
    }
    LaidOutCrcs pieceCrcs;
    bool laidOut = false;
    {
        // A missing local copy (a new file) leaves every byte to the download.
        std::ifstream local(localPath, std::ios::binary);
        laidOut = layOutTarget(file.plan, local.is_open() ? &local : nullptr, out, pieceCrcs);
    }
    std::optional<RangeReceiver> receiver;
    if (!file.downloads.empty()) {
        receiver.emplace(out, file.downloads, progress, path);
        const HttpResult got = httpGetRanges(repoAddress + "/transfer/" + path, *receiver, handle);
        if (!got.ok) {
            fail(1, 4, path, "Http request failed while patching '" + path + "'! " + got.cause);
        }
    } else if (progress) {
        progress(path, 0, 0);
    }
    out.close();

    // Bytes whose writing failed, or that never came, are only found by reading the file back.
    std::optional<std::uint32_t> known;
    if (laidOut && !out.fail()) {
        known = crcOfWrittenPieces(file.plan, pieceCrcs, receiver ? &*receiver : nullptr);
    }
    const std::uint32_t crc = known ? *known : fileCrc32(tempPath);
    if (crc != file.plan.expectedCrc) {
        RemoveFile(tempPath);
        fail(3, 8, path, "Checksum check failed after reconstructing file '" + path + "'!",
             {{"FileChecksum", crc}, {"ExpectedChecksum", file.plan.expectedCrc}});
    }
    // One rename replaces the old file, so no failure can leave the player without it.
    if (!ReplaceFile(tempPath, localPath)) {
        if (PathExists(localPath)) {
            fail(0, 5, path, "Delete failed on '" + path + "'!");
        }
        fail(0, 6, path, "Temporary file couldn't be moved to '" + path + "'!");
    }
    trace("Patched %s\n", localPath);
}

bool ensureParentFolder(const std::string& path) {
    if (path.empty() || path.find("..") != std::string::npos) {
        return false;
    }
    const auto last = path.rfind(kPathSeparator);
    if (last == std::string::npos) {
        return true;
    }
    const std::string folder = path.substr(0, last);
    if (IsDirectory(folder)) {
        return true;
    }
    std::size_t searchFrom = 1;
    for (int step = 0; step < kMaxFolderSteps; ++step) {
        const auto next = folder.find(kPathSeparator, searchFrom);
        std::string prefix = next == std::string::npos ? folder : folder.substr(0, next);
        if (prefix.size() < 3 && !prefix.empty() && prefix.back() == ':') {
            prefix.push_back(kPathSeparator);  // "C:" alone means the drive's current folder
        }
        if (!IsDirectory(prefix)) {
            trace("Creating dir: %s\n", prefix);
            if (!MakeDirectory(prefix)) {
                return false;
            }
        }
        if (next == std::string::npos) {
            return true;
        }
        searchFrom = next + 1;
    }
    return false;
}

std::uint32_t fileCrc32(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return 0;
    }
    std::vector<char> block(kCopyBlockSize);
    uLong crc = crc32(0L, Z_NULL, 0);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = in.gcount();
        if (got <= 0) {
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(got));
    }
    return static_cast<std::uint32_t>(crc);
}

}  // namespace veldmoor
