#include "sync/resume_data.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>

#include "sync/crc32.h"
#include "system/text_encoding.h"

namespace veldmoor {
namespace {

// The record ends with its own length in ten digits and this tag, so that it is found from
// the file's end without knowing the version's size.
constexpr std::string_view kTag = "VMRESUME";
constexpr std::size_t kLengthDigits = 10;
constexpr std::size_t kMaxRecordBytes = 64 * 1024 * 1024;

}  // namespace

std::string resumePathOf(const std::string& localPath) {
    return localPath + ".resume";
}

bool writeResumeRecord(std::ostream& out, const ResumeRecord& record) {
    std::ostringstream text;
    text << "resume " << record.time << ' ' << record.size << ' ' << record.crc << ' '
         << record.held.size() << '\n';
    for (const Piece& piece : record.held) {
        text << piece.targetOffset << ' ' << piece.length << '\n';
    }
    const std::string body = text.str();
    std::string length = std::to_string(body.size());
    length.insert(0, kLengthDigits - std::min(kLengthDigits, length.size()), '0');
    out.seekp(record.size);
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    out.write(length.data(), static_cast<std::streamsize>(length.size()));
    out.write(kTag.data(), static_cast<std::streamsize>(kTag.size()));
    return static_cast<bool>(out);
}

std::optional<ResumeRecord> readResumeRecord(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary | std::ios::ate);
    if (!in.is_open()) {
        return std::nullopt;
    }
    const auto fileSize = static_cast<std::uint64_t>(std::max<std::streamoff>(in.tellg(), 0));
    const std::size_t trailer = kLengthDigits + kTag.size();
    if (fileSize < trailer) {
        return std::nullopt;
    }
    std::string tail(trailer, '\0');
    in.seekg(static_cast<std::streamoff>(fileSize - trailer));
    in.read(tail.data(), static_cast<std::streamsize>(trailer));
    if (!in || tail.substr(kLengthDigits) != kTag ||
        !std::all_of(tail.begin(), tail.begin() + kLengthDigits,
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const std::uint64_t length = std::stoull(tail.substr(0, kLengthDigits));
    if (length > kMaxRecordBytes || length > fileSize - trailer) {
        return std::nullopt;
    }
    std::string body(static_cast<std::size_t>(length), '\0');
    in.seekg(static_cast<std::streamoff>(fileSize - trailer - length));
    in.read(body.data(), static_cast<std::streamsize>(length));
    if (!in) {
        return std::nullopt;
    }
    std::istringstream text(body);
    std::string word;
    ResumeRecord record;
    std::size_t count = 0;
    if (!(text >> word >> record.time >> record.size >> record.crc >> count) || word != "resume" ||
        record.size != fileSize - trailer - length || count > length / 4) {
        return std::nullopt;
    }
    std::uint64_t covered = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Piece piece;
        if (!(text >> piece.targetOffset >> piece.length) || piece.targetOffset < covered ||
            static_cast<std::uint64_t>(piece.targetOffset) + piece.length > record.size) {
            return std::nullopt;
        }
        covered = static_cast<std::uint64_t>(piece.targetOffset) + piece.length;
        piece.kind = kPieceResume;
        piece.sourceOffset = piece.targetOffset;
        record.held.push_back(piece);
    }
    return record;
}

std::vector<Piece> checkedHeld(const std::string& path, const std::vector<Piece>& held,
                               const std::vector<Piece>& blocks) {
    std::vector<Piece> checked;
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in.is_open()) {
        return checked;
    }
    std::vector<char> buffer(128 * 1024);
    std::uint64_t readAt = UINT64_MAX;  // where the stream stands; unknown at first
    std::size_t h = 0;
    // The end of the run of touching held stretches that begins at held[h].
    std::uint64_t heldEnd = 0;
    for (const Piece& block : blocks) {
        const std::uint64_t first = block.targetOffset;
        const std::uint64_t end = first + block.length;
        while (h < held.size() && held[h].targetOffset + std::uint64_t{held[h].length} <= first) {
            ++h;
        }
        if (h == held.size()) {
            break;
        }
        if (held[h].targetOffset > first || block.length == 0) {
            continue;  // not held from its start
        }
        heldEnd = held[h].targetOffset + std::uint64_t{held[h].length};
        for (std::size_t k = h + 1; k < held.size() && held[k].targetOffset == heldEnd; ++k) {
            heldEnd += held[k].length;
        }
        if (heldEnd < end) {
            continue;  // held in part only: its check cannot be made
        }
        if (readAt != first) {
            in.clear();
            in.seekg(static_cast<std::streamoff>(first));
        }
        std::uint32_t crc = 0;
        for (std::uint64_t left = block.length; left > 0 && in;) {
            const auto n =
                static_cast<std::streamsize>(std::min<std::uint64_t>(left, buffer.size()));
            in.read(buffer.data(), n);
            crc = crc32Update(crc, buffer.data(), static_cast<std::size_t>(in.gcount()));
            left -= static_cast<std::uint64_t>(in.gcount());
        }
        readAt = in ? end : UINT64_MAX;
        if (!in || static_cast<std::uint32_t>(crc) != block.strong) {
            continue;
        }
        if (!checked.empty() && checked.back().targetOffset + checked.back().length == first) {
            checked.back().length += block.length;
        } else {
            Piece piece;
            piece.targetOffset = block.targetOffset;
            piece.sourceOffset = block.targetOffset;
            piece.length = block.length;
            piece.kind = kPieceResume;
            checked.push_back(piece);
        }
    }
    return checked;
}

void takeFromResume(BlockPlan& plan, const std::vector<Piece>& held) {
    std::vector<Piece> pieces;
    pieces.reserve(plan.pieces.size() + held.size() * 2);
    std::size_t h = 0;
    for (const Piece& piece : plan.pieces) {
        if (piece.kind != kPieceDownload) {
            pieces.push_back(piece);
            continue;
        }
        std::uint64_t at = piece.targetOffset;
        const std::uint64_t end = at + piece.length;
        while (h < held.size() && held[h].targetOffset + std::uint64_t{held[h].length} <= at) {
            ++h;
        }
        for (std::size_t k = h; k < held.size() && held[k].targetOffset < end; ++k) {
            const std::uint64_t from = std::max<std::uint64_t>(at, held[k].targetOffset);
            const std::uint64_t to =
                std::min<std::uint64_t>(end, held[k].targetOffset + std::uint64_t{held[k].length});
            if (from >= to) {
                continue;
            }
            if (from > at) {
                Piece gap = piece;
                gap.targetOffset = static_cast<std::uint32_t>(at);
                gap.length = static_cast<std::uint32_t>(from - at);
                pieces.push_back(gap);
            }
            Piece kept;
            kept.kind = kPieceResume;
            kept.targetOffset = static_cast<std::uint32_t>(from);
            kept.sourceOffset = kept.targetOffset;
            kept.length = static_cast<std::uint32_t>(to - from);
            pieces.push_back(kept);
            at = to;
        }
        if (at < end) {
            Piece rest = piece;
            rest.targetOffset = static_cast<std::uint32_t>(at);
            rest.length = static_cast<std::uint32_t>(end - at);
            pieces.push_back(rest);
        }
    }
    plan.pieces = std::move(pieces);
}

}  // namespace veldmoor
