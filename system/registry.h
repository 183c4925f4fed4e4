// The game's registry entry: the ExePath value that records where client.exe lives.
//
// On Linux the game runs under Wine, so the value that matters lives in the Wine prefix's
// registry ($WINEPREFIX, default ~/.wine). It is reached with Wine's own tools, run without a
// shell: `wine reg query|add` for the value and `wine winepath` to turn the Windows path it
// holds into a local path and back. Without wine on PATH, or without an initialised prefix
// (no system.reg), the value counts as missing and a write fails; no prefix is ever created.
// Tests put a stand-in `wine` first on PATH and point WINEPREFIX at a temporary folder.
//
// On Windows the value is reached through the registry API, in the 32-bit view the game reads.
// VELDMOOR_GAME_REGISTRY_KEY, when set, names another key in the same form as kGameRegistryKey
// (tests point it at a temporary key under HKEY_CURRENT_USER, never at the game's own).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "system/result.h"

namespace veldmoor {

// HKEY_LOCAL_MACHINE, seen as the 32-bit game sees it.
inline constexpr char kGameRegistryKey[] =
    "HKEY_LOCAL_MACHINE\\Software\\Origin Worlds Online\\Ultima Online\\1.0";
inline constexpr char kExePathValueName[] = "ExePath";
// Longest ExePath accepted, in characters (the game's own buffer holds 260 with terminator).
inline constexpr std::size_t kExePathMaxLength = 260;

// Whether writing the game's entry needs administrator rights. Not on Linux: the entry lives in
// the desktop user's own Wine prefix, which only that user may (and should) change. On Windows
// it does: the entry is under HKEY_LOCAL_MACHINE.
bool RegistryWriteNeedsElevation();

// The Wine prefix whose registry is used: $WINEPREFIX, else $HOME/.wine. Empty on Windows,
// whose registry is the system's own.
std::string WinePrefixFolder();

// The recorded client.exe as a local path, or none when wine, the prefix, the key or the value
// is missing, the value is longer than kExePathMaxLength or names no folder (holds no
// separator), or it cannot be turned into a local path.
std::optional<std::string> ReadExePath();

// Records clientPath (a local path) as the game's ExePath in its Windows form. The failure's
// message says why and what to try. A launcher running as root on someone else's behalf does
// not write: root's prefix is not the one their game reads, and wine refuses a prefix its user
// does not own.
Status WriteExePath(const std::string& clientPath);

}  // namespace veldmoor
