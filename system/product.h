// The product's name and the names of the game's own files, as every layer meets them: the
// folder rights, the repair, the installation check, the game start and the window all name
// the same files.
#pragma once

namespace veldmoor {

// The launcher's name: captions, the per-user data folder, the application's display name.
inline constexpr char kProductName[] = "Veldmoor Launcher";
// The game's program in the installation folder.
inline constexpr char kGameClientFileName[] = "client.exe";
// The game's own settings in the installation folder.
inline constexpr char kGameSettingsFileName[] = "uo.cfg";

}  // namespace veldmoor
