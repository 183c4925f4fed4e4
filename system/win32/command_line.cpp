#include "system/command_line.h"

// The Windows header comes before the shell's, which builds on it.
#include "system/win32/win32_support.h"

#include <shellapi.h>

#include "system/text_encoding.h"

namespace veldmoor {

// The C runtime's argv went through the ANSI code page; the wide command line, split by the
// same rules, keeps every character.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(NarrowText(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

}  // namespace veldmoor
