// Parsing of an HTTP Range header ("bytes=0-1023,4096-8191,-500") against a known file size,
// and the parts a ranged answer is made of. The launcher's receiver fills its pieces in the
// order it asked for them, one part per range, so parts keep that order and disjoint ranges
// that do not touch stay separate parts; only ranges that overlap or touch the one before them
// are joined, as Apache does.
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

// More ranges than this in one header are not answered part by part (Apache's MaxRanges):
// the whole file is. The launcher asks for at most 35.
constexpr std::size_t kMaxRanges = 200;

// Ranges that start inside the file are clipped to its end; ranges that start beyond it are
// dropped. At most `maxRanges` ranges are accepted; more makes the header Malformed.
ParsedRanges ParseRangeHeader(std::string_view header, std::uint64_t fileSize,
                              std::size_t maxRanges = kMaxRanges);

// The parts of a ranged answer: each range joined into the part before it when the two overlap
// or touch, the order otherwise kept. Nullopt when the parts together would be larger than the
// file: such a header asks for the same bytes again and again, and is answered with the whole
// file once, as nginx does, so no header makes an answer larger than the file it serves.
std::optional<std::vector<ByteRange>> AnswerParts(const std::vector<ByteRange>& ranges,
                                                  std::uint64_t fileSize);

}  // namespace veldmoor
