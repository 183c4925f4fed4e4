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

CandidateTable::CandidateTable(std::span<const Piece> entries)
    : entries_(entries), runOfEntry_(entries.size()) {
    const std::vector<std::uint64_t> keys = sortedByWeak(entries);
    order_.resize(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        order_[i] = static_cast<std::uint32_t>(keys[i] & 0xFFFFFFFFu);
    }

    // Runs of equal weak checksums, found in weak order. Each run is noted at its lead (its
    // first entry) with its stretch of order_; within a run, order_ is sorted by strong
    // checksum so that equal ones form groups, each in entry order. Most runs hold one entry.
    struct Stretch {
        std::uint32_t begin = 0;
        std::uint32_t end = 0;  // 0: the entry leads no run
    };
    std::vector<Stretch> runLedBy(entries.size());
    std::size_t runCount = 0;
    const auto weakAt = [&keys](std::size_t i) {
        return static_cast<std::uint32_t>(keys[i] >> 32);
    };
    for (std::size_t runStart = 0; runStart < order_.size(); ++runCount) {
        std::size_t runEnd = runStart + 1;
        while (runEnd < order_.size() && weakAt(runEnd) == weakAt(runStart)) {
            ++runEnd;
        }
        runLedBy[order_[runStart]] =
            Stretch{static_cast<std::uint32_t>(runStart), static_cast<std::uint32_t>(runEnd)};
        if (runEnd - runStart > 1) {
            const auto first = order_.begin() + static_cast<std::ptrdiff_t>(runStart);
            const auto last = order_.begin() + static_cast<std::ptrdiff_t>(runEnd);
            std::sort(first, last, [&entries](std::uint32_t x, std::uint32_t y) {
                return entries[x].strong != entries[y].strong
                           ? entries[x].strong < entries[y].strong
                           : x < y;
            });
        }
        runStart = runEnd;
    }

    // Runs and groups are laid out in the order of their leads: a local copy that holds the
    // target in order then claims them front to back, which the caches reward.
    runs_.reserve(runCount);
    groups_.reserve(runCount);
    std::vector<std::uint32_t> runAt(order_.size());  // by the run's first place in order_
    for (std::uint32_t lead = 0; lead < runLedBy.size(); ++lead) {
        const Stretch stretch = runLedBy[lead];
        if (stretch.end == 0) {
            continue;
        }
        const auto place = static_cast<std::uint32_t>(runs_.size());
        WeakRun run;
        run.weak = entries[lead].weak;
        run.firstGroup = static_cast<std::uint32_t>(groups_.size());
        if (stretch.end - stretch.begin == 1) {
            groups_.push_back(Group{entries[lead].strong, stretch.begin, stretch.end, lead, false});
            runOfEntry_[lead] = place;
        } else {
            for (std::uint32_t i = stretch.begin; i < stretch.end; ++i) {
                const std::uint32_t entry = order_[i];
                if (i == stretch.begin || groups_.back().strong != entries[entry].strong) {
                    groups_.push_back(Group{entries[entry].strong, i, i, entry, false});
                }
                groups_.back().endEntry = i + 1;
                runOfEntry_[entry] = place;
            }
        }
        run.endGroup = static_cast<std::uint32_t>(groups_.size());
        run.unclaimedGroups = run.endGroup - run.firstGroup;
        runs_.push_back(run);
        runAt[stretch.begin] = place;
    }
    unclaimedGroups_ = groups_.size();

    weakIndex_.reserve(runCount);
    for (std::size_t i = 0; i < order_.size(); ++i) {
        if (i == 0 || weakAt(i) != weakAt(i - 1)) {
            weakIndex_.push_back(WeakKey{weakAt(i), runAt[i]});
        }
    }

    const unsigned directoryBits = std::clamp(log2Ceil(weakIndex_.size()), 1u, 24u);
    directoryShift_ = 32 - directoryBits;
    directory_.resize((std::size_t{1} << directoryBits) + 1);
    std::size_t key = 0;
    for (std::size_t prefix = 0; prefix + 1 < directory_.size(); ++prefix) {
        while (key < weakIndex_.size() && (weakIndex_[key].weak >> directoryShift_) < prefix) {
            ++key;
        }
        directory_[prefix] = static_cast<std::uint32_t>(key);
    }
    directory_.back() = static_cast<std::uint32_t>(weakIndex_.size());

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
    if (expectedEntry_ < entries_.size() && entries_[expectedEntry_].weak == weak) {
        return &runs_[runOfEntry_[expectedEntry_]];
    }
    const std::uint32_t prefix = weak >> directoryShift_;
    const auto first = weakIndex_.begin() + directory_[prefix];
    const auto last = weakIndex_.begin() + directory_[prefix + 1];
    const auto key = std::lower_bound(
        first, last, weak, [](const WeakKey& k, std::uint32_t value) { return k.weak < value; });
    return key != last && key->weak == weak ? &runs_[key->run] : nullptr;
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
    if (group->endEntry - group->firstEntry == 1) {
        expectedEntry_ = group->lead + 1;
        return {&group->lead, 1};
    }
    const std::span<const std::uint32_t> claimed = std::span<const std::uint32_t>(order_).subspan(
        group->firstEntry, group->endEntry - group->firstEntry);
    expectedEntry_ = claimed.back() + 1;
    return claimed;
}

std::size_t CandidateTable::bucketCount() const {
    return std::max(kPreparedBuckets, std::bit_ceil(runs_.size()));
}

}  // namespace veldmoor
