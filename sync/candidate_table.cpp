#include "sync/candidate_table.h"

#include <algorithm>
#include <bit>
#include <numeric>

namespace veldmoor {

namespace {

constexpr std::size_t kPreparedBuckets = 16384;
// Filter bits per distinct weak checksum: about 3% of the windows that match nothing still
// reach the hash table, while the filter stays small enough for the CPU's caches.
constexpr std::size_t kFilterBitsPerKey = 32;
constexpr unsigned kMinFilterBitsLog2 = 12;
constexpr unsigned kMaxFilterBitsLog2 = 26;

unsigned log2Ceil(std::size_t value) {
    return static_cast<unsigned>(std::bit_width(value <= 1 ? std::size_t{0} : value - 1));
}

}  // namespace

CandidateTable::CandidateTable(std::span<const Piece> entries) {
    order_.resize(entries.size());
    std::iota(order_.begin(), order_.end(), 0u);
    std::stable_sort(order_.begin(), order_.end(), [&entries](std::uint32_t x, std::uint32_t y) {
        if (entries[x].weak != entries[y].weak) {
            return entries[x].weak < entries[y].weak;
        }
        return entries[x].strong < entries[y].strong;
    });

    for (std::uint32_t i = 0; i < order_.size(); ++i) {
        const Piece& entry = entries[order_[i]];
        const bool newRun = runs_.empty() || runs_.back().weak != entry.weak;
        if (newRun) {
            WeakRun run;
            run.weak = entry.weak;
            run.firstGroup = static_cast<std::uint32_t>(groups_.size());
            run.endGroup = run.firstGroup;
            runs_.push_back(run);
        }
        if (newRun || groups_.back().strong != entry.strong) {
            groups_.push_back(Group{entry.strong, i, i, false});
            ++runs_.back().endGroup;
            ++runs_.back().unclaimedGroups;
        }
        groups_.back().endEntry = i + 1;
    }
    unclaimedGroups_ = groups_.size();

    const unsigned tableBitsLog2 = std::max(4u, log2Ceil(runs_.size() * 2));
    tableShift_ = 32 - tableBitsLog2;
    slots_.assign(std::size_t{1} << tableBitsLog2, Slot{});
    const std::size_t slotMask = slots_.size() - 1;
    for (std::uint32_t r = 0; r < runs_.size(); ++r) {
        std::size_t slot = tableSlot(runs_[r].weak);
        while (slots_[slot].run != 0) {
            slot = (slot + 1) & slotMask;
        }
        slots_[slot] = Slot{runs_[r].weak, r + 1};
    }

    const unsigned filterBitsLog2 = std::clamp(log2Ceil(runs_.size() * kFilterBitsPerKey),
                                               kMinFilterBitsLog2, kMaxFilterBitsLog2);
    filterShift_ = 32 - filterBitsLog2;
    filter_.assign((std::size_t{1} << filterBitsLog2) / 64, 0);
    for (const WeakRun& run : runs_) {
        const std::uint32_t bit = filterSlot(run.weak);
        filter_[bit >> 6] |= std::uint64_t{1} << (bit & 63u);
    }
}

CandidateTable::WeakRun* CandidateTable::find(std::uint32_t weak) {
    const std::size_t slotMask = slots_.size() - 1;
    for (std::size_t slot = tableSlot(weak);; slot = (slot + 1) & slotMask) {
        const Slot& candidate = slots_[slot];
        if (candidate.run == 0) {
            return nullptr;
        }
        if (candidate.weak == weak) {
            return &runs_[candidate.run - 1];
        }
    }
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
