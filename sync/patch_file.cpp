#include "sync/patch_file.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
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

// Writes the target's bytes in order: local pieces copied from the local copy, zeros where
// bytes are still to be downloaded. A local piece that can no longer be read in full (the copy
// changed since it was planned) ends the layout; the checksum then tells.
void layOutTarget(const BlockPlan& plan, std::ifstream& local, std::ofstream& out) {
    std::vector<char> block(kCopyBlockSize);
    for (const Piece& piece : plan.pieces) {
        std::uint32_t left = piece.length;
        if (piece.kind == kPieceDownload) {
            std::fill(block.begin(), block.end(), '\0');
            while (left > 0) {
                const auto n = std::min<std::uint32_t>(left, kCopyBlockSize);
                out.write(block.data(), n);
                left -= n;
            }
            continue;
        }
        local.clear();
        local.seekg(piece.sourceOffset);
        while (left > 0) {
            const auto n = std::min<std::uint32_t>(left, kCopyBlockSize);
            local.read(block.data(), n);
            const auto got = static_cast<std::uint32_t>(local.gcount());
            out.write(block.data(), got);
            if (got < n) {
                return;
            }
            left -= n;
        }
    }
}

std::vector<ByteRange> rangesOf(const std::vector<Piece>& downloads) {
    std::vector<ByteRange> ranges;
    ranges.reserve(downloads.size());
    for (const Piece& piece : downloads) {
        ranges.push_back({piece.targetOffset, piece.targetOffset + piece.length - 1});
    }
    return ranges;
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
    {
        std::ifstream local(localPath, std::ios::binary);
        if (local.is_open()) {
            layOutTarget(file.plan, local, out);
        }
    }
    if (!file.downloads.empty()) {
        RangeReceiver receiver(out, file.downloads, progress, path);
        if (!httpGetRanges(repoAddress + "/transfer/" + path, rangesOf(file.downloads),
                           &RangeReceiver::bodyCallback, &RangeReceiver::headerCallback, &receiver,
                           handle)) {
            fail(1, 4, path, "Http request failed while patching '" + path + "'!");
        }
    } else if (progress) {
        progress(path, 0, 0);
    }
    out.close();

    const std::uint32_t crc = fileCrc32(tempPath);
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
