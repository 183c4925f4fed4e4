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
        WeakChecksum sum;
        sum.length_ = static_cast<std::uint32_t>(length);
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        for (std::size_t i = 0; i < length; ++i) {
            a += data[i];
            b += a;  // b is the sum of the running prefix sums of a
        }
        sum.a_ = a & 0xFFFFu;
        sum.b_ = b & 0xFFFFu;
        return sum;
    }

    // Slides the window one byte forward: `out` leaves at the front, `in` enters at the back.
    void roll(unsigned char out, unsigned char in) {
        a_ = (a_ - out + in) & 0xFFFFu;
        b_ = (b_ - length_ * out + a_) & 0xFFFFu;
    }

    std::uint32_t value() const { return (b_ << 16) | a_; }
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
