// The candidate table of one matching pass: the chunk entries keyed by weak checksum, with
// claims. Entries whose weak and strong checksums are both equal form a group; one local
// window claims a whole group at once, so repeated chunks all come from the same local block.
//
// In front of the look-up sits a bit filter over the weak checksums: most windows of a scan
// carry a checksum no entry has, and the filter answers that from a small bit table without
// touching the hash table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sync/chunk_index.h"

namespace veldmoor {

class CandidateTable {
public:
    // All entries that carry one weak checksum.
    struct WeakRun {
        std::uint32_t weak = 0;
        std::uint32_t firstGroup = 0;
        std::uint32_t endGroup = 0;
        std::uint32_t unclaimedGroups = 0;
    };

    explicit CandidateTable(std::span<const Piece> entries);

    // False when no entry carries `weak`; true means "maybe".
    bool mayContain(std::uint32_t weak) const {
        const std::uint32_t bit = filterSlot(weak);
        return ((filter_[bit >> 6] >> (bit & 63u)) & 1u) != 0;
    }

    // The entries with this weak checksum, or nullptr when there are none.
    WeakRun* find(std::uint32_t weak);

    // Claims the unclaimed group of `run` whose strong checksum is `strong` and returns the
    // indices of its entries (into the constructor's span) in entry order; empty when no
    // unclaimed entry of the run carries `strong`.
    std::span<const std::uint32_t> claim(WeakRun& run, std::uint32_t strong);

    // True once every entry has been claimed: no later window can record anything.
    bool allClaimed() const { return unclaimedGroups_ == 0; }

    // Buckets of the table as the matcher reports it: prepared for 16384 buckets at load
    // factor 1.0 and doubled whenever the distinct weak checksums would exceed that.
    std::size_t bucketCount() const;

private:
    struct Group {
        std::uint32_t strong = 0;
        std::uint32_t firstEntry = 0;  // into order_
        std::uint32_t endEntry = 0;
        bool claimed = false;
    };
    struct Slot {
        std::uint32_t weak = 0;
        std::uint32_t run = 0;  // index + 1; 0 marks an empty slot
    };

    std::uint32_t filterSlot(std::uint32_t weak) const {
        return (weak * 0x9E3779B1u) >> filterShift_;
    }
    std::uint32_t tableSlot(std::uint32_t weak) const {
        return ((weak ^ (weak >> 15)) * 0x85EBCA6Bu) >> tableShift_;
    }

    std::vector<std::uint32_t> order_;  // entry indices sorted by (weak, strong, index)
    std::vector<Group> groups_;
    std::vector<WeakRun> runs_;
    std::vector<Slot> slots_;
    std::vector<std::uint64_t> filter_;
    std::uint32_t filterShift_ = 0;
    std::uint32_t tableShift_ = 0;
    std::size_t unclaimedGroups_ = 0;
};

}  // namespace veldmoor
