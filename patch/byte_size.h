#pragma once

#include <cstdint>
#include <string>

namespace veldmoor {

// Byte count as the size and speed texts show it: "1023B", "1.50KB", "100.0KB", "1.00MB",
// "4.00GB" (two decimals below a hundred units, one from a hundred on).
std::string FormatByteSize(std::uint32_t n);

}  // namespace veldmoor
