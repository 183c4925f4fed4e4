// Starting programs for the person at the desktop: the game after a patch run, a chosen
// program, a file, folder or web page. When the launcher runs as root on someone's behalf
// (pkexec sets PKEXEC_UID, sudo SUDO_UID), the program runs as that person, with their groups
// and home, never with the launcher's rights.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veldmoor {

// On Windows the ids are 0 and the groups empty: the account is told by its name and profile.
struct DesktopUser {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string name;
    std::string home;
    std::vector<std::uint32_t> groups;
};

// The person the launcher works for: the user named by PKEXEC_UID or SUDO_UID when the launcher
// runs as root on their behalf, else the process's own user. On Windows the owner of the
// desktop shell's process (the person at the desktop also when the launcher runs elevated),
// else the process's own account. std::nullopt when that user has no account entry.
std::optional<DesktopUser> FindDesktopUser();

// Starts program as the desktop user in workingDirectory (its current one when empty), not
// waiting for it. On POSIX a program whose name ends in ".exe" is a Windows program and runs
// through wine. True when the program was started; false when it, wine, or the working directory
// is missing, the change of user fails, or wine ends with a failure within its first two seconds
// (it could not run the program). A Windows program is therefore waited for up to two seconds;
// one that ends well within them counts as started.
// On Windows an elevated launcher starts the program with the token of the desktop shell, so
// that it runs with the person's ordinary rights; a launcher that is not elevated, or runs under
// Wine (no such shell), starts it directly. False when it cannot be started.
bool StartDeElevated(const std::string& program, const std::string& workingDirectory);

// Opens a file, folder or address with the desktop's chosen program (xdg-open; on Windows the
// shell's "open") as the desktop user.
bool OpenWithDesktop(const std::string& target);

}  // namespace veldmoor
