#include "system/command_line.h"

namespace veldmoor {

// The arguments arrive as the bytes the caller gave, and the program's text is UTF-8 throughout.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

}  // namespace veldmoor
