// Whether the process's standard output is a terminal, so that command-line programs draw a
// live progress line only for a person and keep logs and pipes clean.
#pragma once

namespace veldmoor {

bool StandardOutputIsTerminal();

}  // namespace veldmoor
