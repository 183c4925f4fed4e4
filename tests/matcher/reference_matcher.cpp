#include "reference_matcher.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <unordered_map>

namespace veldmoor::reference {

namespace {

using Table = std::unordered_map<std::uint32_t, std::list<Piece>>;

struct Rolling {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint32_t weak() const { return b * 65536u + a; }
};

Rolling checksumOf(const unsigned char* bytes, std::uint32_t length) {
    Rolling r;
    for (std::uint32_t k = 0; k < length; ++k) {
        r.a = (r.a + bytes[k]) % 65536u;
        r.b = (r.b + (length - k) * std::uint32_t{bytes[k]}) % 65536u;
    }
    return r;
}

// Algorithm "check a window": the window is buffer[i - L, i).
bool checkWindow(Table& table, const unsigned char* window, std::uint32_t length,
                 std::uint32_t weak, std::uint64_t pos, std::vector<Piece>& found) {
    const auto it = table.find(weak);
    if (it == table.end()) {
        return false;
    }
    std::list<Piece>& candidates = it->second;
    if (candidates.empty()) {
        return true;
    }
    const auto strong = static_cast<std::uint32_t>(crc32(0, window, length));
    bool claimed = false;
    for (auto entry = candidates.begin(); entry != candidates.end();) {
        if (entry->strong == strong) {
            Piece piece;
            piece.targetOffset = entry->targetOffset;
            piece.length = length;
            piece.weak = weak;
            piece.strong = strong;
            piece.sourceOffset = static_cast<std::uint32_t>(pos - length);
            piece.kind = kPieceLocal;
            found.push_back(piece);
            entry = candidates.erase(entry);
            claimed = true;
        } else {
            ++entry;
        }
    }
    return claimed;
}

void matchPass(std::istream& in, std::uint32_t length, const std::vector<Piece>& entries,
               std::vector<Piece>& found, std::vector<PassReport>& passes) {
    const auto start = static_cast<std::uint64_t>(in.tellg());
    std::vector<unsigned char> buffer(std::size_t{2} * length);
    const auto readInto = [&in](unsigned char* at, std::size_t count) {
        in.read(reinterpret_cast<char*>(at), static_cast<std::streamsize>(count));
        return static_cast<std::size_t>(in.gcount());
    };

    std::size_t v = readInto(buffer.data(), buffer.size());
    if (v < length) {
        return;
    }
    std::uint64_t pos = start + length;
    Rolling sum = checksumOf(buffer.data(), length);

    Table table;
    table.max_load_factor(1.0F);
    table.reserve(15000);
    for (const Piece& entry : entries) {
        table[entry.weak].push_back(entry);
    }
    passes.push_back(PassReport{entries.size(), sum.weak()});

    std::size_t i = length;
    for (;;) {
        bool matched = false;
        while (i < v) {
            if (checkWindow(table, buffer.data() + i - length, length, sum.weak(), pos, found)) {
                matched = true;
                break;
            }
            const std::uint32_t out = buffer[i - length];
            const std::uint32_t enter = buffer[i];
            ++pos;
            sum.a = (sum.a + 65536u - out + enter) % 65536u;
            sum.b = (sum.b + 65536u * 256u - length % 65536u * out + sum.a) % 65536u;
            ++i;
        }
        if (!matched) {
            matched =
                checkWindow(table, buffer.data() + i - length, length, sum.weak(), pos, found);
        }
        if (matched) {
            in.clear();
            in.seekg(static_cast<std::streamoff>(pos));
            v = readInto(buffer.data(), buffer.size());
            if (v < length) {
                return;
            }
            sum = checksumOf(buffer.data(), length);
            pos += length;
            i = length;
            continue;
        }
        std::memmove(buffer.data(), buffer.data() + length, length);
        const std::size_t n = readInto(buffer.data() + length, length);
        if (n == 0) {
            return;
        }
        v = length + n;
        i = length;
    }
}

}  // namespace

ReferencePlan buildBlockPlan(std::istream& local, const std::vector<Piece>& entries) {
    ReferencePlan plan;
    if (!local || entries.empty()) {
        return plan;
    }
    const std::uint32_t length = entries.front().length;
    const Piece& last = entries.back();
    if (last.length == length) {
        matchPass(local, length, entries, plan.pieces, plan.passes);
    } else if (last.length != 0) {
        const std::vector<Piece> allButLast(entries.begin(), entries.end() - 1);
        matchPass(local, length, allButLast, plan.pieces, plan.passes);
        if (!plan.pieces.empty()) {
            const Piece& recent = plan.pieces.back();
            local.clear();
            local.seekg(static_cast<std::streamoff>(recent.sourceOffset) + recent.length);
            matchPass(local, last.length, {last}, plan.pieces, plan.passes);
        }
    }
    std::stable_sort(plan.pieces.begin(), plan.pieces.end(), [](const Piece& x, const Piece& y) {
        return x.targetOffset < y.targetOffset;
    });
    return plan;
}

}  // namespace veldmoor::reference
