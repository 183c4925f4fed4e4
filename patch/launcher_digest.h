#pragma once

#include <string>

namespace veldmoor {

// Text standing for a launcher program file that cannot be read.
inline constexpr char kLauncherDigestNotFound[] = "NOTFOUND";

// MD5 of the launcher's program file in launcherFolder as hexadecimal text, or
// kLauncherDigestNotFound. Only equality of two digests matters: it tells whether the launcher
// update changed the program.
std::string ComputeLauncherDigest(const std::string& launcherFolder);

}  // namespace veldmoor
