#include "ui/progress_texts.h"
#include "ui/translate.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

namespace veldmoor {

namespace {

// A size as the transfer writes it: a number and B, KB, MB or GB (of 1024).
std::optional<double> ParseByteSize(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value < 0)
        return std::nullopt;
    const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    if (unit == "B")
        return value;
    if (unit == "KB")
        return value * 1024.0;
    if (unit == "MB")
        return value * 1024.0 * 1024.0;
    if (unit == "GB")
        return value * 1024.0 * 1024.0 * 1024.0;
    return std::nullopt;
}

std::string Format(const char* format, long a, long b) {
    std::array<char, 48> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, a, b);
    return buffer.data();
}

}  // namespace

std::string PercentText(int position, int range) {
    if (range <= 0)
        return {};
    const long percent = std::lround(std::floor(100.0 * position / range));
    return std::to_string(std::clamp(percent, 0L, 100L)) + " %";
}

std::string TimeLeftText(const std::string& sizeText, const std::string& speedText) {
    const std::size_t slash = sizeText.find('/');
    constexpr std::string_view kPerSecond = "/s";
    if (slash == std::string::npos || speedText.size() <= kPerSecond.size() ||
        std::string_view(speedText).substr(speedText.size() - kPerSecond.size()) != kPerSecond)
        return {};
    const std::optional<double> done = ParseByteSize(std::string_view(sizeText).substr(0, slash));
    const std::optional<double> total = ParseByteSize(std::string_view(sizeText).substr(slash + 1));
    const std::optional<double> speed =
        ParseByteSize(std::string_view(speedText).substr(0, speedText.size() - kPerSecond.size()));
    if (!done || !total || !speed || *speed <= 0 || *total <= *done)
        return {};
    // Rounded up: "noch 0 s" would claim the transfer is over.
    const long seconds = std::max(1L, std::lround(std::ceil((*total - *done) / *speed)));
    if (seconds < 60)
        return tr("noch %s s", std::to_string(seconds));
    if (seconds < 3600)
        return Format(tr("noch %ld:%02ld min").c_str(), seconds / 60, seconds % 60);
    return Format(tr("noch %ld:%02ld h").c_str(), seconds / 3600, (seconds % 3600) / 60);
}

}  // namespace veldmoor
