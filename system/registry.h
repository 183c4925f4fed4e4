// The game's registry entry: the ExePath value that records where client.exe lives.
//
// On Linux the game runs under Wine, so the value that matters lives in the Wine prefix's
// registry ($WINEPREFIX, default ~/.wine). It is reached with Wine's own tools, run without a
// shell: `wine reg query|add` for the value and `wine winepath` to turn the Windows path it
// holds into a local path and back. Without wine on PATH, or without an initialised prefix
// (no system.reg), the value counts as missing and a write fails; no prefix is ever created.
// Tests put a stand-in `wine` first on PATH and point WINEPREFIX at a temporary folder.
#pragma once

#include <optional>
#include <string>

namespace veldmoor {

// HKEY_LOCAL_MACHINE, seen as the 32-bit game sees it.
inline constexpr char kGameRegistryKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Origin Worlds Online\\Ultima Online\\1.0";
inline constexpr char kExePathValueName[] = "ExePath";
// Longest ExePath accepted, in characters (the game's own buffer holds 260 with terminator).
inline constexpr std::size_t kExePathMaxLength = 260;

// Whether writing the game's entry needs administrator rights. Not on Linux: the entry lives in
// the desktop user's own Wine prefix, which only that user may (and should) change.
bool RegistryWriteNeedsElevation();

// The Wine prefix whose registry is used: $WINEPREFIX, else $HOME/.wine.
std::string WinePrefixFolder();

// The recorded client.exe as a local path, or none when wine, the prefix, the key or the value
// is missing, the value is longer than kExePathMaxLength or names no folder (holds no
// separator), or it cannot be turned into a local path.
std::optional<std::string> ReadExePath();

// Records clientPath (a local path) as the game's ExePath in its Windows form.
// False when that fails; *error (when given) then says why and what to try. A launcher running
// as root on someone else's behalf does not write: root's prefix is not the one their game
// reads, and wine refuses a prefix its user does not own.
bool WriteExePath(const std::string& clientPath, std::string* error = nullptr);

}  // namespace veldmoor
