// Both scan paths must stop at the same windows with the checksums those windows really have,
// whatever the window length (shorter or longer than the 16 windows of a vector step) and
// wherever the buffer ends.
#include "sync/window_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "sync/weak_checksum.h"

namespace veldmoor {
namespace {

struct Stop {
    std::size_t start;
    bool candidate;
    std::uint32_t weak;
    bool operator==(const Stop&) const = default;
};

struct ScanCase {
    std::uint32_t windowLength;
    std::size_t bufferBytes;
    unsigned alphabet;  // 2 makes long runs of equal checksums and many candidates
};

class WindowScanPaths : public ::testing::TestWithParam<ScanCase> {};

// Every stop of a scan over the whole buffer, passing over candidates as the matcher does when
// their check fails.
std::vector<Stop> allStops(const WindowScanner& scanner, const std::vector<unsigned char>& data,
                           std::uint32_t windowLength) {
    std::vector<Stop> stops;
    const std::size_t last = data.size() - windowLength;
    std::uint32_t weak = scanner.checksumOf(data.data());
    for (std::size_t s = 0;;) {
        const ScanStop stop = scanner.toCandidate(data.data(), s, last, weak);
        stops.push_back(Stop{stop.start, stop.candidate, weak});
        if (stop.start == last) {
            return stops;
        }
        WeakChecksum sum = WeakChecksum::fromValue(weak, windowLength);
        sum.roll(data[stop.start], data[stop.start + windowLength]);
        weak = sum.value();
        s = stop.start + 1;
    }
}

TEST_P(WindowScanPaths, StopAtTheSameWindowsWithTheirTrueChecksums) {
    const ScanCase c = GetParam();
    if (!scanPathRuns(ScanPath::avx2)) {
        GTEST_SKIP() << "this processor has no AVX2: only the plain path runs";
    }
    std::mt19937 random(c.windowLength * 7919u + c.alphabet);
    std::vector<unsigned char> data(c.bufferBytes);
    for (unsigned char& byte : data) {
        byte = static_cast<unsigned char>(random() % c.alphabet);
    }
    // Entries for some windows of the buffer (they must all be stopped at) and random ones.
    std::vector<Piece> entries;
    std::set<std::size_t> seeded;
    for (std::size_t start = random() % 40; start + c.windowLength <= data.size();
         start += 1 + random() % 300) {
        Piece entry;
        entry.weak = weakChecksum(data.data() + start, c.windowLength);
        entry.length = c.windowLength;
        entries.push_back(entry);
        seeded.insert(start);
    }
    for (int i = 0; i < 2000; ++i) {
        Piece entry;
        entry.weak = static_cast<std::uint32_t>(random());
        entry.length = c.windowLength;
        entries.push_back(entry);
    }
    const CandidateTable table(entries);

    const WindowScanner plain(ScanPath::plain, c.windowLength, table.filter());
    const WindowScanner vector(ScanPath::avx2, c.windowLength, table.filter());
    ASSERT_EQ(vector.path(), ScanPath::avx2);
    const std::vector<Stop> expected = allStops(plain, data, c.windowLength);
    ASSERT_EQ(allStops(vector, data, c.windowLength), expected);

    std::set<std::size_t> candidates;
    for (const Stop& stop : expected) {
        ASSERT_EQ(stop.weak, weakChecksum(data.data() + stop.start, c.windowLength))
            << "window " << stop.start;
        if (stop.candidate) {
            candidates.insert(stop.start);
        }
    }
    ASSERT_TRUE(std::includes(candidates.begin(), candidates.end(), seeded.begin(), seeded.end()));
    for (std::size_t start = 0; start + c.windowLength <= data.size(); start += 997) {
        ASSERT_EQ(vector.checksumOf(data.data() + start), plain.checksumOf(data.data() + start));
    }
}

INSTANTIATE_TEST_SUITE_P(WindowLengths, WindowScanPaths,
                         ::testing::Values(ScanCase{1, 5000, 256}, ScanCase{2, 4099, 2},
                                           ScanCase{15, 6000, 256}, ScanCase{16, 6001, 256},
                                           ScanCase{17, 6002, 3}, ScanCase{100, 20000, 256},
                                           ScanCase{4096, 70000, 256}, ScanCase{65537, 140000, 256},
                                           ScanCase{700, 717, 256}));

}  // namespace
}  // namespace veldmoor
