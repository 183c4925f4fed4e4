#include "sync/window_scan_paths.h"

namespace veldmoor::scan_paths {

// The plain path. The checksum is rolled in its final layout, b in the high half and a in
// the low one, so that a window costs a few additions, one table read and one filter test.
ScanStop scanPlain(const unsigned char* data, std::size_t s, std::size_t last,
                   std::uint32_t windowLength, std::uint32_t& weak, WeakFilter filter,
                   const LeavingTable& leaving) {
    std::uint32_t a = weak & 0xFFFFu;          // wraps modulo 2^32; only the low half counts
    std::uint32_t bHigh = weak & 0xFFFF0000u;  // b << 16, exact modulo 2^32
    for (;;) {
        const std::uint32_t value = bHigh | (a & 0xFFFFu);
        if (filter.mayContain(value)) {
            weak = value;
            return ScanStop{s, true};
        }
        if (s == last) {
            weak = value;
            return ScanStop{s, false};
        }
        const unsigned char out = data[s];
        a += static_cast<std::uint32_t>(data[s + windowLength]) - out;
        bHigh += (a << 16) - leaving[out];
        ++s;
    }
}

}  // namespace veldmoor::scan_paths
