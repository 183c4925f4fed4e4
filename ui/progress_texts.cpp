#include "ui/progress_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ui/fill_in.h"
#include "ui/translate.h"

namespace veldmoor {

namespace {

std::string TwoDigits(long value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02ld", value);
    return buffer;
}

}  // namespace

std::string PercentText(int position, int range) {
    if (range <= 0)
        return {};
    const long percent = std::lround(std::floor(100.0 * position / range));
    return std::to_string(std::clamp(percent, 0L, 100L)) + " %";
}

std::string TimeLeftText(std::uint64_t done, std::uint64_t total, std::uint64_t bytesPerSecond) {
    if (bytesPerSecond == 0 || total <= done)
        return {};
    // Rounded up: "noch 0 s" would claim the transfer is over.
    const long seconds = std::max(1L, std::lround(std::ceil(static_cast<double>(total - done) /
                                                            static_cast<double>(bytesPerSecond))));
    if (seconds < 60)
        return FillIn(tr("noch %1 s"), {std::to_string(seconds)});
    if (seconds < 3600)
        return FillIn(tr("noch %1:%2 min"),
                      {std::to_string(seconds / 60), TwoDigits(seconds % 60)});
    return FillIn(tr("noch %1:%2 h"),
                  {std::to_string(seconds / 3600), TwoDigits((seconds % 3600) / 60)});
}

}  // namespace veldmoor
