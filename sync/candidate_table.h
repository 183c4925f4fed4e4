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

// The bit filter alone, cheap to copy into a scan loop's registers. A blocked filter: each
// weak checksum sets a few bits within one 64-bit word, so a test costs one read of the
// table and one of a small mask table (both stay in the CPU's caches) and one branch that is
// almost never taken. About one in 3000 windows that match nothing gets past it.
class WeakFilter {
public:
    static constexpr unsigned kMaskBits = 12;
    static constexpr unsigned kBitsPerKey = 4;

    WeakFilter(const std::uint64_t* words, std::uint32_t shift)
        : words_(words), masks_(masks()), shift_(shift) {}

    // False when no entry carries `weak`; true means "maybe".
    bool mayContain(std::uint32_t weak) const {
        const std::uint64_t hash = hashOf(weak);
        const std::uint64_t mask = masks_[maskIndexOf(hash)];
        return (words_[hash >> shift_] & mask) == mask;
    }

    static constexpr std::uint64_t kHashFactor = 0x9E3779B97F4A7C15ull;
    static constexpr unsigned kMaskIndexShift = 24;
    static std::uint64_t hashOf(std::uint32_t weak) { return weak * kHashFactor; }
    // The bits a checksum sets in its word, chosen by hash bits that the word index leaves.
    static std::uint64_t maskOf(std::uint64_t hash) { return masks()[maskIndexOf(hash)]; }
    static std::size_t maskIndexOf(std::uint64_t hash) {
        return (hash >> kMaskIndexShift) & ((std::size_t{1} << kMaskBits) - 1);
    }

    // The parts, for a scan that tests several checksums at once: a checksum's word is
    // words()[hashOf(weak) >> shift()], its bits masks()[maskIndexOf(hash)].
    const std::uint64_t* words() const { return words_; }
    std::uint32_t shift() const { return shift_; }
    static const std::uint64_t* masks();

private:
    const std::uint64_t* words_;
    const std::uint64_t* masks_;
    std::uint32_t shift_;  // 64 - log2(words)
};

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

    // Answers "no entry carries this weak checksum" without a look-up.
    WeakFilter filter() const { return WeakFilter(filter_.data(), filterShift_); }

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
        std::uint32_t lead = 0;  // the first entry's index, so most claims need not read order_
        bool claimed = false;
    };
    std::span<const Piece> entries_;
    // The entry after the last claimed one: a local copy that holds the target in order
    // matches it next, and checking it first spares the directory search.
    std::uint32_t expectedEntry_ = 0;
    std::vector<std::uint32_t> runOfEntry_;
    std::vector<std::uint32_t> order_;  // entry indices sorted by (weak, strong, index)
    std::vector<Group> groups_;
    struct WeakKey {
        std::uint32_t weak = 0;
        std::uint32_t run = 0;
    };
    std::vector<WeakRun> runs_;       // in the order of their first entries
    std::vector<WeakKey> weakIndex_;  // one per run, sorted by weak checksum
    // directory_[p] is the first key whose weak checksum starts with the bits p, so a
    // look-up searches only the keys that share its leading bits.
    std::vector<std::uint32_t> directory_;
    std::vector<std::uint64_t> filter_;
    std::uint32_t filterShift_ = 0;
    std::uint32_t directoryShift_ = 0;
    std::size_t unclaimedGroups_ = 0;
};

}  // namespace veldmoor
