// The AVX2 path, built for x86-64 processors only (sync/CMakeLists.txt chooses this file).
#include <immintrin.h>

#include <bit>

#include "sync/weak_checksum.h"
#include "sync/window_scan_paths.h"

namespace veldmoor::scan_paths {

namespace {

// The AVX2 path. GCC compiles these functions for AVX2 whatever the build's target, and
// they run only where the processor has it. Windows are taken 16 at a time: window s + j
// (j = 0..15) has
//   a(s+j) = a(s) + sum over k < j of d(k),        d(k) = in(k) - out(k)
//   b(s+j) = b(s) + j * a(s) + sum over k < j of e(k),
//            e(k) = (d(0) + ... + d(k)) - L * out(k)
// where out(k) = data[s + k] leaves and in(k) = data[s + k + L] enters. Only the sums'
// low 16 bits count, so each is a lane of 16 bits.

constexpr std::size_t kLanes = 16;

// x(0) + ... + x(j) in every lane j.
[[gnu::target("avx2")]] __m256i inclusivePrefixSums(__m256i x) {
    x = _mm256_add_epi16(x, _mm256_slli_si256(x, 2));
    x = _mm256_add_epi16(x, _mm256_slli_si256(x, 4));
    x = _mm256_add_epi16(x, _mm256_slli_si256(x, 8));
    // Each 128-bit half now holds its own sums; the high half adds the low half's total.
    const __m256i halfTotals = _mm256_shuffle_epi8(x, _mm256_set1_epi16(0x0F0E));
    return _mm256_add_epi16(x, _mm256_permute2x128_si256(halfTotals, halfTotals, 0x08));
}

// Bit k set when the checksum in 32-bit lane k of `weak4` (4 lanes) passes the filter
// (WeakFilter::mayContain, 4 at a time). Measured on this project's bench, gathering the words
// and masks beats reading them one at a time and computing the masks from the hash.
[[gnu::target("avx2")]] unsigned filterHits(__m128i weak4, __m128i shift, const long long* words,
                                            const long long* masks) {
    const __m256i weak = _mm256_cvtepu32_epi64(weak4);
    const __m256i hashLow =
        _mm256_mul_epu32(weak, _mm256_set1_epi64x(WeakFilter::kHashFactor & 0xFFFFFFFFu));
    const __m256i hashHigh =
        _mm256_mul_epu32(weak, _mm256_set1_epi64x(WeakFilter::kHashFactor >> 32));
    const __m256i hash = _mm256_add_epi64(hashLow, _mm256_slli_epi64(hashHigh, 32));
    const __m256i maskIndex =
        _mm256_and_si256(_mm256_srli_epi64(hash, WeakFilter::kMaskIndexShift),
                         _mm256_set1_epi64x((1 << WeakFilter::kMaskBits) - 1));
    const __m256i word = _mm256_i64gather_epi64(words, _mm256_srl_epi64(hash, shift), 8);
    const __m256i mask = _mm256_i64gather_epi64(masks, maskIndex, 8);
    const __m256i hit = _mm256_cmpeq_epi64(_mm256_and_si256(word, mask), mask);
    return static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(hit)));
}

[[gnu::target("avx2")]] ScanStop scan(const unsigned char* data, std::size_t s, std::size_t last,
                                      std::uint32_t windowLength, std::uint32_t& weak,
                                      WeakFilter filter, const LeavingTable& leaving) {
    const __m256i length = _mm256_set1_epi16(static_cast<short>(windowLength));
    const __m256i laneIndex =
        _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(filter.shift()));
    const auto* const words = reinterpret_cast<const long long*>(filter.words());
    const auto* const masks = reinterpret_cast<const long long*>(WeakFilter::masks());
    std::uint16_t a = weak & 0xFFFFu;
    std::uint16_t b = weak >> 16;
    // A step reads the window after its 16 (it becomes the next step's first), so the last
    // window is left to the plain path.
    for (; s + kLanes <= last; s += kLanes) {
        const __m256i out =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + s)));
        const __m256i in = _mm256_cvtepu8_epi16(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + s + windowLength)));
        const __m256i d = _mm256_sub_epi16(in, out);
        const __m256i dSums = inclusivePrefixSums(d);
        const __m256i e = _mm256_sub_epi16(dSums, _mm256_mullo_epi16(out, length));
        const __m256i eSums = inclusivePrefixSums(e);
        const __m256i aStart = _mm256_set1_epi16(static_cast<short>(a));
        const __m256i aLanes = _mm256_add_epi16(aStart, _mm256_sub_epi16(dSums, d));
        const __m256i bLanes =
            _mm256_add_epi16(_mm256_add_epi16(_mm256_set1_epi16(static_cast<short>(b)),
                                              _mm256_mullo_epi16(aStart, laneIndex)),
                             _mm256_sub_epi16(eSums, e));

        // Interleave a and b into the 32-bit checksums of windows 0..7 and 8..15, in order.
        const __m256i aOrdered = _mm256_permute4x64_epi64(aLanes, 0xD8);
        const __m256i bOrdered = _mm256_permute4x64_epi64(bLanes, 0xD8);
        const __m256i first8 = _mm256_unpacklo_epi16(aOrdered, bOrdered);
        const __m256i second8 = _mm256_unpackhi_epi16(aOrdered, bOrdered);

        const unsigned hits =
            filterHits(_mm256_castsi256_si128(first8), shift, words, masks) |
            filterHits(_mm256_extracti128_si256(first8, 1), shift, words, masks) << 4 |
            filterHits(_mm256_castsi256_si128(second8), shift, words, masks) << 8 |
            filterHits(_mm256_extracti128_si256(second8, 1), shift, words, masks) << 12;
        if (hits != 0) {
            const auto lane = static_cast<std::size_t>(std::countr_zero(hits));
            std::uint32_t checksums[kLanes];
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(checksums), first8);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(checksums + 8), second8);
            weak = checksums[lane];
            return ScanStop{s + lane, true};
        }
        const auto dTotal = static_cast<std::uint16_t>(_mm256_extract_epi16(dSums, 15));
        const auto eTotal = static_cast<std::uint16_t>(_mm256_extract_epi16(eSums, 15));
        b = static_cast<std::uint16_t>(b + kLanes * a + eTotal);
        a = static_cast<std::uint16_t>(a + dTotal);
    }
    weak = std::uint32_t{b} << 16 | a;
    return scanPlain(data, s, last, windowLength, weak, filter, leaving);
}

// WeakChecksum::over, compiled for AVX2.
[[gnu::target("avx2")]] std::uint32_t checksum(const unsigned char* window, std::uint32_t length) {
    return WeakChecksum::over(window, length).value();
}

}  // namespace

bool avx2Runs() {
    // Also false where the operating system does not keep the vector registers.
    return __builtin_cpu_supports("avx2");
}

// The exported entries are compiled for the build's target; only what they call uses AVX2.
ScanStop scanAvx2(const unsigned char* data, std::size_t s, std::size_t last,
                  std::uint32_t windowLength, std::uint32_t& weak, WeakFilter filter,
                  const LeavingTable& leaving) {
    return scan(data, s, last, windowLength, weak, filter, leaving);
}

std::uint32_t checksumAvx2(const unsigned char* window, std::uint32_t length) {
    return checksum(window, length);
}

}  // namespace veldmoor::scan_paths
