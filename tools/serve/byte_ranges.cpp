#include "tools/serve/byte_ranges.h"

#include <algorithm>
#include <charconv>

namespace veldmoor {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

ParsedRanges ParseRangeHeader(std::string_view header, std::uint64_t fileSize,
                              std::size_t maxRanges) {
    ParsedRanges parsed;
    header = Trim(header);
    constexpr std::string_view kUnit = "bytes=";
    if (header.substr(0, kUnit.size()) != kUnit) {
        return parsed;
    }
    header.remove_prefix(kUnit.size());
    std::size_t count = 0;
    while (true) {
        const auto comma = header.find(',');
        const auto rangeText = Trim(header.substr(0, comma));
        const auto dash = rangeText.find('-');
        if (dash == std::string_view::npos || ++count > maxRanges) {
            parsed.ranges.clear();
            return parsed;
        }
        const auto firstText = Trim(rangeText.substr(0, dash));
        const auto lastText = Trim(rangeText.substr(dash + 1));
        if (firstText.empty()) {
            // Suffix range: the last n bytes.
            const auto suffix = ParseNumber(lastText);
            if (!suffix) {
                parsed.ranges.clear();
                return parsed;
            }
            if (*suffix > 0 && fileSize > 0) {
                const std::uint64_t n = *suffix < fileSize ? *suffix : fileSize;
                parsed.ranges.push_back({fileSize - n, fileSize - 1});
            }
        } else {
            const auto first = ParseNumber(firstText);
            const auto last =
                lastText.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : ParseNumber(lastText);
            if (!first || !last || *last < *first) {
                parsed.ranges.clear();
                return parsed;
            }
            if (*first < fileSize) {
                parsed.ranges.push_back({*first, *last < fileSize ? *last : fileSize - 1});
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        header.remove_prefix(comma + 1);
    }
    parsed.result = parsed.ranges.empty() ? RangeParse::Unsatisfiable : RangeParse::Ok;
    return parsed;
}

std::optional<std::vector<ByteRange>> AnswerParts(const std::vector<ByteRange>& ranges,
                                                  std::uint64_t fileSize) {
    std::vector<ByteRange> parts;
    std::uint64_t total = 0;
    for (const ByteRange& range : ranges) {
        // Ranges lie inside the file, so last + 1 cannot wrap around.
        const bool joins = !parts.empty() && range.first <= parts.back().last + 1 &&
                           parts.back().first <= range.last + 1;
        if (joins) {
            ByteRange& last = parts.back();
            total -= last.length();
            last.first = std::min(last.first, range.first);
            last.last = std::max(last.last, range.last);
            total += last.length();
        } else {
            parts.push_back(range);
            total += range.length();
        }
        // Checked at every step, so that the total never wraps around either.
        if (total > fileSize) {
            return std::nullopt;
        }
    }
    return parts;
}

}  // namespace veldmoor
