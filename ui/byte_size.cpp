#include "ui/byte_size.h"

#include <array>
#include <cstdio>

namespace veldmoor {

namespace {

constexpr std::uint32_t kKilo = 1024;
constexpr std::uint32_t kMega = 1024 * 1024;
constexpr std::uint32_t kGiga = 1024 * 1024 * 1024;
constexpr double kPerKilo = 0.0009765625;  // 2^-10: exact, so the shown digits match a division

std::string Format(const char* format, double value, const char* unit) {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), format, value);
    return std::string(buffer.data()) + unit;
}

}  // namespace

std::string FormatByteSize(std::uint64_t n) {
    if (n < kKilo)
        return std::to_string(n) + "B";
    const double kilo = static_cast<double>(n) * kPerKilo;
    if (n < 100 * kKilo)
        return Format("%.2f", kilo, "KB");
    if (n < kMega)
        return Format("%.1f", kilo, "KB");
    const double mega = kilo * kPerKilo;
    if (n < 100 * kMega)
        return Format("%.2f", mega, "MB");
    if (n < kGiga)
        return Format("%.1f", mega, "MB");
    return Format("%.2f", mega * kPerKilo, "GB");
}

}  // namespace veldmoor
