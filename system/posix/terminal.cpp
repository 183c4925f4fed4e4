#include "system/terminal.h"

#include <unistd.h>

namespace veldmoor {

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace veldmoor
