// A stand-in for the main dialog that lets tests observe the user-interface process without a
// display. When VELDMOOR_UI_PROBE names a file, the user-interface process does not open its
// window; it writes what it was started with to that file:
//   pid=<process id>
//   cwd=<working directory>
//   argc=<number of arguments>
//   arg=<argument>            (one line each, in order)
// then, for VELDMOOR_UI_PROBE_HOLD_MS milliseconds (default 0), it stays as a running window
// would and appends the line "raised" for every second start that asks it to come to the front.
#pragma once

#include <string>
#include <vector>

#include "system/single_instance.h"

namespace veldmoor {

// True when the probe was requested (and has run).
bool RunUiProbeIfRequested(const std::vector<std::string>& arguments,
                           RunningDialogListener* secondStart);

}  // namespace veldmoor
