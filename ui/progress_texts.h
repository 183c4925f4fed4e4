// The texts beside the progress bar that a player reads at a glance: how far the run is and how
// long the transfer will still take. The time left is computed from the byte counts and the rate
// the run reports, so a changed size or speed text cannot change it.
#pragma once

#include <cstdint>
#include <string>

namespace veldmoor {

// "42 %" for a bar at `position` of `range` (rounded down, so 100 % means done).
std::string PercentText(int position, int range);

// "noch 12 s", "noch 3:05 min" or "noch 1:02 h" for the bytes left of `total` after `done` at
// `bytesPerSecond`; empty when nothing is left or nothing arrives.
std::string TimeLeftText(std::uint64_t done, std::uint64_t total, std::uint64_t bytesPerSecond);

}  // namespace veldmoor
