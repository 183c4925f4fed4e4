// The folding path, built for x86-64 processors only (sync/CMakeLists.txt chooses this file).
// GCC compiles these functions for PCLMULQDQ and SSE4.1 whatever the build's target, and they
// run only where the processor has both.
//
// The input is a polynomial over GF(2) and its CRC-32 its remainder modulo P. 128 bits X that
// stand D bits before the end of what has been read leave the same remainder as
// X.low64 * x^(D+32) + X.high64 * x^(D-32), each product 96 bits (the bit order is reflected,
// as in zlib, so the low half holds the higher powers). Four lanes of 128 bits take the input
// 64 bytes a step; the lanes are then folded into one, and zlib finishes the last 16 bytes and
// the tail, which leave the remainder of the whole.
#include <immintrin.h>
#include <zlib.h>

#include <cstring>

#include "sync/crc32_paths.h"

namespace veldmoor::crc32_paths {
namespace {

// x^n modulo P (0x104C11DB7), bit-reflected and shifted by one as the carry-less product of two
// reflected operands needs: the fold constants, computed from the polynomial rather than copied.
constexpr std::uint64_t foldConstant(unsigned n) {
    std::uint64_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        remainder <<= 1U;
        if ((remainder >> 32U) != 0) {
            remainder ^= 0x104C11DB7ULL;
        }
    }
    std::uint64_t reflected = 0;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if (((remainder >> bit) & 1U) != 0) {
            reflected |= std::uint64_t{1} << (31 - bit);
        }
    }
    return reflected << 1U;
}

// The pairs for 512 bits (one lane to the same lane 64 bytes on) and for 128 bits.
constexpr long long kFold512Low = static_cast<long long>(foldConstant(512 + 32));
constexpr long long kFold512High = static_cast<long long>(foldConstant(512 - 32));
constexpr long long kFold128Low = static_cast<long long>(foldConstant(128 + 32));
constexpr long long kFold128High = static_cast<long long>(foldConstant(128 - 32));
static_assert(kFold512Low == 0x154442BD4 && kFold128High == 0x0CCAA009E);

[[gnu::target("pclmul,sse4.1")]] __m128i load(const unsigned char* at) {
    __m128i value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// `lane` moved on by the distance `constants` stand for, added to the `next` 128 bits.
[[gnu::target("pclmul,sse4.1")]] __m128i fold(__m128i lane, __m128i constants, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, constants, 0x00),
                                       _mm_clmulepi64_si128(lane, constants, 0x11)),
                         next);
}

[[gnu::target("pclmul,sse4.1")]] std::uint32_t folded(std::uint32_t crc, const unsigned char* data,
                                                      std::size_t size) {
    const __m128i by512 = _mm_set_epi64x(kFold512High, kFold512Low);
    const __m128i by128 = _mm_set_epi64x(kFold128High, kFold128Low);
    // zlib's crc32 starts from the complement of `crc`: it goes into the first 32 bits.
    __m128i lane0 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(~crc)));
    __m128i lane1 = load(data + 16);
    __m128i lane2 = load(data + 32);
    __m128i lane3 = load(data + 48);
    data += 64;
    size -= 64;
    for (; size >= 64; data += 64, size -= 64) {
        lane0 = fold(lane0, by512, load(data));
        lane1 = fold(lane1, by512, load(data + 16));
        lane2 = fold(lane2, by512, load(data + 32));
        lane3 = fold(lane3, by512, load(data + 48));
    }
    __m128i last = fold(fold(fold(lane0, by128, lane1), by128, lane2), by128, lane3);
    for (; size >= 16; data += 16, size -= 16) {
        last = fold(last, by128, load(data));
    }
    // What is left has the remainder of everything read; its CRC-32 from a zero register (the
    // complement of zlib's starting value) is the whole input's.
    unsigned char rest[32];
    std::memcpy(rest, &last, 16);
    std::memcpy(rest + 16, data, size);
    return static_cast<std::uint32_t>(crc32(0xFFFFFFFFUL, rest, static_cast<uInt>(16 + size)));
}

}  // namespace

bool foldingRuns() {
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

std::uint32_t crc32Folded(std::uint32_t crc, const unsigned char* data, std::size_t size) {
    return folded(crc, data, size);
}

}  // namespace veldmoor::crc32_paths
