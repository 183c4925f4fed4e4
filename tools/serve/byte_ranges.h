// Parsing of an HTTP Range header ("bytes=0-1023,4096-8191,-500") against a known file size.
// The repository server answers every range in the order it was asked for, one part per range,
// never merged or reordered, because the launcher's receiver fills its pieces in that order.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace veldmoor {

struct ByteRange {
    std::uint64_t first = 0;  // inclusive
    std::uint64_t last = 0;   // inclusive
    std::uint64_t length() const { return last - first + 1; }
};

enum class RangeParse {
    Ok,             // ranges holds at least one satisfiable range
    Malformed,      // not a bytes= header the server understands: answer the whole file
    Unsatisfiable,  // well formed, but no range lies inside the file: 416
};

struct ParsedRanges {
    RangeParse result = RangeParse::Malformed;
    std::vector<ByteRange> ranges;
};

// Ranges that start inside the file are clipped to its end; ranges that start beyond it are
// dropped. At most `maxRanges` ranges are accepted; more makes the header Malformed.
ParsedRanges ParseRangeHeader(std::string_view header, std::uint64_t fileSize,
                              std::size_t maxRanges = 1024);

}  // namespace veldmoor
