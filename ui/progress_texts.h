// The texts beside the progress bar that a player reads at a glance: how far the run is and how
// long the transfer will still take. The time left is read from the size and speed texts the run
// shows, so it always agrees with them.
#pragma once

#include <string>

namespace veldmoor {

// "42 %" for a bar at `position` of `range` (rounded down, so 100 % means done).
std::string PercentText(int position, int range);

// "noch 12 s", "noch 3:05 min" or "noch 1:02 h" from a size text ("12.40MB/29.52MB") and a
// speed text ("1.84MB/s") in the forms the transfer shows them; empty when either cannot be read,
// nothing is left or nothing arrives.
std::string TimeLeftText(const std::string& sizeText, const std::string& speedText);

}  // namespace veldmoor
