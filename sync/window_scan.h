// The matcher's inner loop: rolls the weak checksum over the windows of a buffer and stops at
// the first window whose checksum passes the bit filter.
//
// Two implementations stop at the same windows with the same checksums. The plain one rolls
// one byte at a time and runs on any processor. The AVX2 one computes the checksums of 16
// windows at once (from prefix sums of the bytes that enter and leave them, in 16-bit lanes:
// the checksum's halves only count modulo 65536) and tests them against the filter four at a
// time, so a step of 16 windows costs one branch. The fastest one the processor runs is chosen
// at run time; the tests run both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sync/candidate_table.h"

namespace veldmoor {

enum class ScanPath { plain, avx2 };

// True when this processor (and its operating system) can run `path`.
bool scanPathRuns(ScanPath path);
// The fastest path this processor runs.
ScanPath fastestScanPath();

struct ScanStop {
    std::size_t start;  // window start in the buffer
    bool candidate;     // its weak checksum passed the filter
};

// Scans windows of one length against one filter. A path the processor cannot run is
// replaced by the plain one.
class WindowScanner {
public:
    WindowScanner(ScanPath path, std::uint32_t windowLength, WeakFilter filter);

    // Rolls from the window at `data + start`, whose weak checksum is `weak`, towards the
    // window at `data + last` and stops at the first window whose checksum passes the filter,
    // or at `last`; `weak` is then the checksum of the window stopped at. Reads
    // data[start, last + window length).
    ScanStop toCandidate(const unsigned char* data, std::size_t start, std::size_t last,
                         std::uint32_t& weak) const;

    // The weak checksum of the window at `window` (weakChecksum over the window length).
    std::uint32_t checksumOf(const unsigned char* window) const;

    ScanPath path() const { return path_; }

private:
    ScanPath path_;
    std::uint32_t windowLength_;
    WeakFilter filter_;
    // (L * x) << 16 for every byte value x: the part of the weak checksum's b that a byte
    // leaving a window of L bytes takes with it, already in b's place.
    std::array<std::uint32_t, 256> leaving_{};
};

}  // namespace veldmoor
