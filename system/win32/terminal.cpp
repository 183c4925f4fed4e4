#include "system/terminal.h"

#include "system/win32/win32_support.h"

namespace veldmoor {

bool StandardOutputIsTerminal() {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    // A redirected output is a file or a pipe; only a console has a console mode.
    return output != nullptr && output != INVALID_HANDLE_VALUE &&
           ::GetFileType(output) == FILE_TYPE_CHAR && ::GetConsoleMode(output, &mode) != 0;
}

}  // namespace veldmoor
