// The weak rolling checksum of the chunk index. For a block x1..xL (bytes unsigned):
//   a = (x1 + ... + xL) mod 65536
//   b = (L*x1 + (L-1)*x2 + ... + 1*xL) mod 65536
//   weak = b * 65536 + a
// The publisher writes it into every chunk record and the block matcher rolls it over the
// local copy one byte at a time, so both sides must compute it bit for bit alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldmoor {

class WeakChecksum {
public:
    WeakChecksum() = default;

    // Checksum of the `length` bytes at `data`; the window length L is `length`.
    static WeakChecksum over(const unsigned char* data, std::size_t length) {
        // Only the sums modulo 65536 matter, so 16-bit arithmetic is exact. Blocks of 64 bytes
        // turn the running prefix sum into a weighted sum the compiler can vectorise:
        // b grows by 64 times the sum before the block plus the block's own weighted sum.
        constexpr std::size_t kBlock = 64;
        std::uint16_t a = 0;
        std::uint16_t b = 0;
        std::size_t i = 0;
        for (; i + kBlock <= length; i += kBlock) {
            std::uint16_t blockSum = 0;
            std::uint16_t blockWeighted = 0;
            for (std::size_t k = 0; k < kBlock; ++k) {
                blockSum = static_cast<std::uint16_t>(blockSum + data[i + k]);
                blockWeighted = static_cast<std::uint16_t>(
                    blockWeighted + static_cast<std::uint16_t>(kBlock - k) * data[i + k]);
            }
            b = static_cast<std::uint16_t>(b + kBlock * a + blockWeighted);
            a = static_cast<std::uint16_t>(a + blockSum);
        }
        for (; i < length; ++i) {
            a = static_cast<std::uint16_t>(a + data[i]);
            b = static_cast<std::uint16_t>(b + a);  // b is the sum of the running prefix sums
        }
        WeakChecksum sum;
        sum.a_ = a;
        sum.b_ = b;
        sum.length_ = static_cast<std::uint32_t>(length);
        return sum;
    }

    // The checksum state of a window of `length` bytes whose weak checksum is `weak`: a and b
    // only matter modulo 65536, so the value holds all of it.
    static WeakChecksum fromValue(std::uint32_t weak, std::uint32_t length) {
        WeakChecksum sum;
        sum.a_ = weak & 0xFFFFu;
        sum.b_ = weak >> 16;
        sum.length_ = length;
        return sum;
    }

    // Slides the window one byte forward: `out` leaves at the front, `in` enters at the back.
    // a and b wrap modulo 2^32, which keeps them exact modulo 65536; value() drops the rest.
    void roll(unsigned char out, unsigned char in) {
        a_ += static_cast<std::uint32_t>(in) - out;
        b_ += a_ - length_ * out;
    }

    std::uint32_t value() const { return (b_ << 16) | (a_ & 0xFFFFu); }
    std::uint32_t length() const { return length_; }

private:
    std::uint32_t a_ = 0;
    std::uint32_t b_ = 0;
    std::uint32_t length_ = 0;
};

// Weak checksum of one block, as written into a chunk record.
inline std::uint32_t weakChecksum(const unsigned char* data, std::size_t length) {
    return WeakChecksum::over(data, length).value();
}

}  // namespace veldmoor
