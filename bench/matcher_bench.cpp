// The matcher's scan in bytes per second against an index of 130000 chunks of 4 KiB, for a
// local copy that shares nothing with the target (64 MiB) and for one that is the target
// (508 MiB), on each scan path the processor runs, next to the plain implementation that looks
// every byte's weak checksum up in a std::unordered_map (tests/matcher/reference_matcher.cpp).
// The limits beside them: the scan alone over the unrelated bytes in memory (rolling and
// filtering, no reads, no matcher), the weak checksum rolled one byte at a time with nothing
// else (what a plain scan can never beat), and the CRC-32 of every block, the engine's next to
// zlib's.
//
//   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDMOOR_BUILD_BENCH=ON
//   cmake --build build/release --target matcher_bench
//   build/release/bench/matcher_bench | grep -v '^Buckets'
//
// MB_per_s is decimal megabytes of local copy scanned per second of CPU time. The local
// copies are files in a temporary folder, read through the page cache. Each scan writes the
// matcher's diagnostic line, hence the grep.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "reference_matcher.h"
#include "sync/block_matcher.h"
#include "sync/candidate_table.h"
#include "sync/crc32.h"
#include "sync/weak_checksum.h"
#include "sync/window_scan.h"

namespace veldmoor {
namespace {

constexpr std::uint32_t kBlockSize = 4096;
constexpr std::size_t kChunks = 130000;
constexpr std::size_t kUnrelatedBytes = std::size_t{64} << 20;

class Corpus {
public:
    Corpus() {
        folder_ = std::filesystem::temp_directory_path() /
                  ("veldmoor-matcher-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder_);
        std::mt19937_64 random(42);
        std::vector<unsigned char> block(kBlockSize);
        const auto fill = [&random, &block] {
            for (std::size_t i = 0; i < block.size(); i += 8) {
                const std::uint64_t word = random();
                for (std::size_t k = 0; k < 8; ++k) {
                    block[i + k] = static_cast<unsigned char>(word >> (8 * k));
                }
            }
        };

        std::ofstream target(targetPath(), std::ios::binary);
        for (std::size_t c = 0; c < kChunks; ++c) {
            fill();
            Piece entry;
            entry.targetOffset = static_cast<std::uint32_t>(c * kBlockSize);
            entry.length = kBlockSize;
            entry.weak = weakChecksum(block.data(), block.size());
            entry.strong = static_cast<std::uint32_t>(crc32(0, block.data(), kBlockSize));
            entries_.push_back(entry);
            target.write(reinterpret_cast<const char*>(block.data()), kBlockSize);
        }
        std::ofstream unrelated(unrelatedPath(), std::ios::binary);
        for (std::size_t written = 0; written < kUnrelatedBytes; written += kBlockSize) {
            fill();
            unrelated.write(reinterpret_cast<const char*>(block.data()), kBlockSize);
        }
    }
    ~Corpus() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    Corpus(const Corpus&) = delete;
    Corpus& operator=(const Corpus&) = delete;

    const std::vector<Piece>& entries() const { return entries_; }
    std::string targetPath() const { return (folder_ / "target.bin").string(); }
    std::string unrelatedPath() const { return (folder_ / "unrelated.bin").string(); }

private:
    std::filesystem::path folder_;
    std::vector<Piece> entries_;
};

const Corpus& corpus() {
    static const Corpus instance;
    return instance;
}

std::size_t sizeOf(const std::string& path) {
    return static_cast<std::size_t>(std::filesystem::file_size(path));
}

void report(benchmark::State& state, const std::string& local) {
    const double bytes = static_cast<double>(state.iterations()) * sizeOf(local);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["MB_per_s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

void scanWithMatcher(benchmark::State& state, const std::string& local, std::size_t expectFound,
                     ScanPath path) {
    if (!scanPathRuns(path)) {
        state.SkipWithError("this processor cannot run the scan path");
        return;
    }
    const std::vector<Piece>& entries = corpus().entries();
    MatcherOptions options;
    options.scanPath = path;
    for (auto _ : state) {
        std::ifstream in(local, std::ios::binary);
        const BlockPlan plan = buildBlockPlan(in, entries, 0, options);
        if (plan.pieces.size() != expectFound) {
            state.SkipWithError("the matcher found an unexpected number of pieces");
        }
        benchmark::DoNotOptimize(plan.pieces.data());
    }
    report(state, local);
}

std::vector<unsigned char> readWhole(const std::string& path) {
    std::vector<unsigned char> bytes(sizeOf(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// The scan's inner loop alone over the unrelated copy in memory: every window rolled and
// tested against the filter; the few that pass are passed over.
void scanInMemory(benchmark::State& state, ScanPath path) {
    if (!scanPathRuns(path)) {
        state.SkipWithError("this processor cannot run the scan path");
        return;
    }
    static const std::vector<unsigned char> bytes = readWhole(corpus().unrelatedPath());
    const CandidateTable table(corpus().entries());
    const WindowScanner scanner(path, kBlockSize, table.filter());
    const std::size_t last = bytes.size() - kBlockSize;
    for (auto _ : state) {
        std::uint32_t weak = scanner.checksumOf(bytes.data());
        std::size_t candidates = 0;
        for (std::size_t s = 0;;) {
            const ScanStop stop = scanner.toCandidate(bytes.data(), s, last, weak);
            candidates += stop.candidate ? 1 : 0;
            if (stop.start == last) {
                break;
            }
            WeakChecksum sum = WeakChecksum::fromValue(weak, kBlockSize);
            sum.roll(bytes[stop.start], bytes[stop.start + kBlockSize]);
            weak = sum.value();
            s = stop.start + 1;
        }
        benchmark::DoNotOptimize(candidates);
    }
    const double scanned = static_cast<double>(state.iterations()) * bytes.size();
    state.counters["MB_per_s"] = benchmark::Counter(scanned / 1e6, benchmark::Counter::kIsRate);
}

// The weak checksum rolled over the same bytes one at a time, nothing else.
void RollingSumAlone(benchmark::State& state) {
    static const std::vector<unsigned char> bytes = readWhole(corpus().unrelatedPath());
    for (auto _ : state) {
        WeakChecksum sum = WeakChecksum::over(bytes.data(), kBlockSize);
        for (std::size_t s = 0; s + kBlockSize < bytes.size(); ++s) {
            sum.roll(bytes[s], bytes[s + kBlockSize]);
        }
        benchmark::DoNotOptimize(sum.value());
    }
    const double scanned = static_cast<double>(state.iterations()) * bytes.size();
    state.counters["MB_per_s"] = benchmark::Counter(scanned / 1e6, benchmark::Counter::kIsRate);
}

// The CRC-32 of each 4 KiB block of the unrelated bytes, as the matcher checks a candidate and
// the rebuild checks a file: the engine's (folded where the processor can) next to zlib's.
void BlockCrc32(benchmark::State& state, bool engine) {
    static const std::vector<unsigned char> bytes = readWhole(corpus().unrelatedPath());
    if (engine && !crc32Folds()) {
        state.SkipWithError("this processor has no carry-less multiply: the engine uses zlib's");
        return;
    }
    for (auto _ : state) {
        std::uint32_t crc = 0;
        for (std::size_t at = 0; at + kBlockSize <= bytes.size(); at += kBlockSize) {
            crc ^= engine ? crc32Update(0, bytes.data() + at, kBlockSize)
                          : static_cast<std::uint32_t>(crc32(0, bytes.data() + at, kBlockSize));
        }
        benchmark::DoNotOptimize(crc);
    }
    const double scanned = static_cast<double>(state.iterations()) * bytes.size();
    state.counters["MB_per_s"] = benchmark::Counter(scanned / 1e6, benchmark::Counter::kIsRate);
}

void scanWithReference(benchmark::State& state, const std::string& local, std::size_t expectFound) {
    const std::vector<Piece>& entries = corpus().entries();
    for (auto _ : state) {
        std::ifstream in(local, std::ios::binary);
        const reference::ReferencePlan plan = reference::buildBlockPlan(in, entries);
        if (plan.pieces.size() != expectFound) {
            state.SkipWithError("the reference found an unexpected number of pieces");
        }
        benchmark::DoNotOptimize(plan.pieces.data());
    }
    report(state, local);
}

void NothingMatches_Matcher(benchmark::State& state, ScanPath path) {
    scanWithMatcher(state, corpus().unrelatedPath(), 0, path);
}
void NothingMatches_Reference(benchmark::State& state) {
    scanWithReference(state, corpus().unrelatedPath(), 0);
}
void EverythingMatches_Matcher(benchmark::State& state, ScanPath path) {
    scanWithMatcher(state, corpus().targetPath(), kChunks, path);
}
void EverythingMatches_Reference(benchmark::State& state) {
    scanWithReference(state, corpus().targetPath(), kChunks);
}

BENCHMARK_CAPTURE(NothingMatches_Matcher, plain, ScanPath::plain)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK_CAPTURE(NothingMatches_Matcher, avx2, ScanPath::avx2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(NothingMatches_Reference)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(EverythingMatches_Matcher, plain, ScanPath::plain)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);
BENCHMARK_CAPTURE(EverythingMatches_Matcher, avx2, ScanPath::avx2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);
BENCHMARK(EverythingMatches_Reference)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(scanInMemory, plain, ScanPath::plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scanInMemory, avx2, ScanPath::avx2)->Unit(benchmark::kMillisecond);
BENCHMARK(RollingSumAlone)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BlockCrc32, zlib, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BlockCrc32, engine, true)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace veldmoor

BENCHMARK_MAIN();
