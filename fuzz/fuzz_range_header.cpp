// The server's Range header against a file size taken from the input's first eight bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "tools/serve/byte_ranges.h"

using namespace veldmoor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9)
        return 0;
    std::uint64_t fileSize = 0;
    std::memcpy(&fileSize, data, sizeof fileSize);
    // Small sizes most of the time, so that ranges land both inside and outside the file.
    if ((data[8] & 1) == 0)
        fileSize %= 4096;
    const std::size_t maxRanges = 1 + data[8] % 32;
    const std::string_view header(reinterpret_cast<const char*>(data) + 9, size - 9);
    const ParsedRanges parsed = ParseRangeHeader(header, fileSize, maxRanges);
    FUZZ_CHECK((parsed.result == RangeParse::Ok) == !parsed.ranges.empty());
    FUZZ_CHECK(parsed.ranges.size() <= maxRanges);
    for (const ByteRange& range : parsed.ranges) {
        FUZZ_CHECK(range.first <= range.last);
        FUZZ_CHECK(range.last < fileSize);
    }
    return 0;
}
