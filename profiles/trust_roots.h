// The root of trust each repository is checked against. The launcher's own repository and the
// built-in game repositories take the root built into the program: the build setting
// VELDMOOR_TRUST_ROOT names a root file whose bytes are compiled in (cmake/Deployment.cmake).
// Without one the program has no built-in root and those repositories are not verified, as
// before signed repositories existed. A profile with an address of its own has no root.
//
// Environment override for tests and the demo, in the manner of VELDMOOR_SERVER_OVERRIDE:
//   VELDMOOR_TRUST_ROOT_OVERRIDE=/path/to/1.root
// replaces the built-in root with that file's bytes.
#pragma once

#include <string>

#include "system/result.h"

namespace veldmoor {

inline constexpr char kTrustRootOverrideVariable[] = "VELDMOOR_TRUST_ROOT_OVERRIDE";

// The built-in root file's bytes, or the override file's; empty when there is neither. Fails,
// naming the file, when the override names a file that cannot be read: a run that was meant to
// be checked must not go on unchecked.
Result<std::string> BuiltInTrustRoot();

// True for the built-in game repositories (main and build server), in either scheme and
// ignoring case, as profiles store them after migration.
bool IsBuiltInGameRepository(const std::string& address);

// The root to check a game repository against: BuiltInTrustRoot() for a built-in one, empty
// for any other address.
Result<std::string> TrustRootForGameRepository(const std::string& address);

}  // namespace veldmoor
