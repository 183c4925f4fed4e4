// The launcher's own program file name. Start-up refuses to run under any other name, the
// relocator copies the program under this name, and the self-update restarts and fingerprints
// the installed file by it. Compared without regard to case.
#pragma once

#include <string_view>

namespace veldmoor {

#ifdef _WIN32
inline constexpr std::string_view kLauncherFileName = "Launcher.exe";
#else
inline constexpr std::string_view kLauncherFileName = "Launcher";
#endif

}  // namespace veldmoor
