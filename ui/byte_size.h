#pragma once

#include <cstdint>
#include <string>

namespace veldmoor {

// Byte count as the size and speed texts show it: "1023B", "1.50KB", "100.0KB", "1.00MB",
// "4.00GB" (two decimals below a hundred units, one from a hundred on). Totals of 4 GiB and more
// stay in GB: "6.00GB".
std::string FormatByteSize(std::uint64_t n);

}  // namespace veldmoor
