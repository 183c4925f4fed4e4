#include "sync/candidate_table.h"

#include <algorithm>
#include <array>
#include <bit>

namespace veldmoor {

namespace {

constexpr std::size_t kPreparedBuckets = 16384;
// Filter bits per distinct weak checksum. The filter stays small enough for the CPU's caches
// (1 MiB for 130000 chunks) and lets about 0.03% of non-matching windows through.
constexpr std::size_t kFilterBitsPerKey = 64;
constexpr unsigned kMinFilterWordsLog2 = 6;
constexpr unsigned kMaxFilterWordsLog2 = 22;
// Below this many entries a comparison sort is quicker than two counting passes.
constexpr std::size_t kRadixSortFrom = 4096;

unsigned log2Ceil(std::size_t value) {
    return static_cast<unsigned>(std::bit_width(value <= 1 ? std::size_t{0} : value - 1));
}

// Entry indices ordered by weak checksum, equal checksums in entry order. Each key is the
// weak checksum over the index, so sorting the keys sorts by both.
std::vector<std::uint64_t> sortedByWeak(std::span<const Piece> entries) {
    std::vector<std::uint64_t> keys(entries.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keys[i] = (std::uint64_t{entries[i].weak} << 32) | i;
    }
    if (keys.size() < kRadixSortFrom) {
        std::sort(keys.begin(), keys.end());
        return keys;
    }
    // Two stable counting passes over the 16-bit halves of the weak checksum; the keys start
    // in entry order, so equal checksums stay in entry order.
    std::vector<std::uint64_t> scratch(keys.size());
    std::vector<std::uint32_t> start(65537);
    for (const unsigned shift : {32u, 48u}) {
        std::fill(start.begin(), start.end(), 0u);
        for (const std::uint64_t key : keys) {
            ++start[((key >> shift) & 0xFFFFu) + 1];
        }
        for (std::size_t digit = 1; digit < start.size(); ++digit) {
            start[digit] += start[digit - 1];
        }
        for (const std::uint64_t key : keys) {
            scratch[start[(key >> shift) & 0xFFFFu]++] = key;
        }
        keys.swap(scratch);
    }
    return keys;
}

// Masks of WeakFilter::kBitsPerKey distinct bits each, drawn from a fixed sequence.
constexpr std::array<std::uint64_t, std::size_t{1} << WeakFilter::kMaskBits> makeFilterMasks() {
    std::array<std::uint64_t, std::size_t{1} << WeakFilter::kMaskBits> masks{};
    std::uint64_t state = 0x5EED5EED5EED5EEDull;
    for (std::uint64_t& mask : masks) {
        while (static_cast<unsigned>(std::popcount(mask)) < WeakFilter::kBitsPerKey) {
            state += 0x9E3779B97F4A7C15ull;  // splitmix64
            std::uint64_t z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            mask |= std::uint64_t{1} << (z & 63u);
        }
    }
    return masks;
}

constexpr auto kFilterMasks = makeFilterMasks();

}  // namespace

const std::uint64_t* WeakFilter::masks() {
    return kFilterMasks.data();
}

CandidateTable::CandidateTable(std::span<const Piece> entries) {
    const std::vector<std::uint64_t> keys = sortedByWeak(entries);
    order_.resize(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        order_[i] = static_cast<std::uint32_t>(keys[i] & 0xFFFFFFFFu);
    }

    // Runs of equal weak checksums; within a run, groups of equal strong checksums in entry
    // order. Most runs hold one entry.
    std::size_t runStart = 0;
    while (runStart < order_.size()) {
        const std::uint32_t weak = entries[order_[runStart]].weak;
        std::size_t runEnd = runStart + 1;
        while (runEnd < order_.size() && entries[order_[runEnd]].weak == weak) {
            ++runEnd;
        }
        const auto first = order_.begin() + static_cast<std::ptrdiff_t>(runStart);
        const auto last = order_.begin() + static_cast<std::ptrdiff_t>(runEnd);
        if (runEnd - runStart > 1) {
            std::sort(first, last, [&entries](std::uint32_t x, std::uint32_t y) {
                return entries[x].strong != entries[y].strong
                           ? entries[x].strong < entries[y].strong
                           : x < y;
            });
        }
        WeakRun run;
        run.weak = weak;
        run.firstGroup = static_cast<std::uint32_t>(groups_.size());
        for (std::size_t i = runStart; i < runEnd; ++i) {
            const std::uint32_t strong = entries[order_[i]].strong;
            if (i == runStart || groups_.back().strong != strong) {
                groups_.push_back(Group{strong, static_cast<std::uint32_t>(i),
                                        static_cast<std::uint32_t>(i), false});
            }
            groups_.back().endEntry = static_cast<std::uint32_t>(i + 1);
        }
        run.endGroup = static_cast<std::uint32_t>(groups_.size());
        run.unclaimedGroups = run.endGroup - run.firstGroup;
        runs_.push_back(run);
        runStart = runEnd;
    }
    unclaimedGroups_ = groups_.size();

    const unsigned directoryBits = std::clamp(log2Ceil(runs_.size()), 1u, 24u);
    directoryShift_ = 32 - directoryBits;
    directory_.resize((std::size_t{1} << directoryBits) + 1);
    std::size_t run = 0;
    for (std::size_t prefix = 0; prefix + 1 < directory_.size(); ++prefix) {
        while (run < runs_.size() && (runs_[run].weak >> directoryShift_) < prefix) {
            ++run;
        }
        directory_[prefix] = static_cast<std::uint32_t>(run);
    }
    directory_.back() = static_cast<std::uint32_t>(runs_.size());

    const unsigned filterWordsLog2 = std::clamp(log2Ceil(runs_.size() * kFilterBitsPerKey / 64),
                                                kMinFilterWordsLog2, kMaxFilterWordsLog2);
    filterShift_ = 64 - filterWordsLog2;
    filter_.assign(std::size_t{1} << filterWordsLog2, 0);
    for (const WeakRun& weakRun : runs_) {
        const std::uint64_t hash = WeakFilter::hashOf(weakRun.weak);
        filter_[hash >> filterShift_] |= WeakFilter::maskOf(hash);
    }
}

CandidateTable::WeakRun* CandidateTable::find(std::uint32_t weak) {
    const std::uint32_t prefix = weak >> directoryShift_;
    const auto first = runs_.begin() + directory_[prefix];
    const auto last = runs_.begin() + directory_[prefix + 1];
    const auto run = std::lower_bound(
        first, last, weak, [](const WeakRun& r, std::uint32_t value) { return r.weak < value; });
    return run != last && run->weak == weak ? &*run : nullptr;
}

std::span<const std::uint32_t> CandidateTable::claim(WeakRun& run, std::uint32_t strong) {
    const auto first = groups_.begin() + run.firstGroup;
    const auto end = groups_.begin() + run.endGroup;
    const auto group = std::lower_bound(
        first, end, strong, [](const Group& g, std::uint32_t value) { return g.strong < value; });
    if (group == end || group->strong != strong || group->claimed) {
        return {};
    }
    group->claimed = true;
    --run.unclaimedGroups;
    --unclaimedGroups_;
    return std::span<const std::uint32_t>(order_).subspan(group->firstEntry,
                                                          group->endEntry - group->firstEntry);
}

std::size_t CandidateTable::bucketCount() const {
    return std::max(kPreparedBuckets, std::bit_ceil(runs_.size()));
}

}  // namespace veldmoor
