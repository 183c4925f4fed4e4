#include "sync/weak_checksum.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace veldmoor {
namespace {

// The definition, term by term.
std::uint32_t weakByDefinition(const unsigned char* data, std::size_t length) {
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    for (std::size_t k = 0; k < length; ++k) {
        a += data[k];
        b += (length - k) * std::uint64_t{data[k]};
    }
    return static_cast<std::uint32_t>(((b % 65536) << 16) | (a % 65536));
}

TEST(WeakChecksum, MatchesThePublishedVectors) {
    const unsigned char abcd[] = {'a', 'b', 'c', 'd'};
    WeakChecksum sum = WeakChecksum::over(abcd, 3);
    EXPECT_EQ(sum.value(), 0x024A0126u);
    sum.roll('a', 'd');
    EXPECT_EQ(sum.value(), 0x02500129u);
    EXPECT_EQ(weakChecksum(abcd + 1, 3), 0x02500129u);
}

TEST(WeakChecksum, EmptyBlockIsZero) {
    EXPECT_EQ(weakChecksum(nullptr, 0), 0u);
}

TEST(WeakChecksum, EqualsTheDefinitionAndRollsExactlyForAnyLength) {
    std::mt19937 random(7);
    // Lengths around the 64-byte blocks of the fast path, and long windows of 0xFF bytes
    // whose sums wrap modulo 65536 many times.
    const std::size_t lengths[] = {1, 2, 3, 5, 63, 64, 65, 127, 128, 129, 1000, 4096, 65537};
    for (const std::size_t length : lengths) {
        for (const bool saturated : {false, true}) {
            std::vector<unsigned char> data(length + 300);
            for (unsigned char& byte : data) {
                byte = saturated ? 0xFF : static_cast<unsigned char>(random());
            }
            if (saturated) {
                data[length + 7] = 0;  // one change so that the rolled values move
            }
            WeakChecksum sum = WeakChecksum::over(data.data(), length);
            ASSERT_EQ(sum.value(), weakByDefinition(data.data(), length)) << "length " << length;
            for (std::size_t start = 1; start + length <= data.size(); ++start) {
                sum.roll(data[start - 1], data[start - 1 + length]);
                ASSERT_EQ(sum.value(), weakByDefinition(data.data() + start, length))
                    << "length " << length << ", start " << start;
            }
        }
    }
}

}  // namespace
}  // namespace veldmoor
