// Start-up upkeep of the stored repository addresses: old rsync and wrong-scheme forms are
// rewritten to the built-in addresses in the scheme the running system uses, and the default
// profile (the first one on the main repository) is made to exist. Both change memory only;
// the list reaches profiles.xml with its next save.
#pragma once

#include <cstddef>

#include "profiles/patch_context_list.h"

namespace veldmoor {

inline constexpr char kDefaultProfileName[] = "Standardprofil";

// Rewrites every profile's RepoPath that equals (ignoring case) a legacy rsync address or
// a built-in address in either scheme; any other address stays exactly as it is.
void MigrateRepoPaths(PatchContextList& list);
void MigrateRepoPaths(PatchContextList& list, bool supportsHttps);

// Index of the first profile whose RepoPath is the adjusted main repository address (ignoring
// case); appends "Standardprofil" on that address first when there is none. LastSelected is
// not changed.
std::size_t EnsureDefaultProfile(PatchContextList& list);
std::size_t EnsureDefaultProfile(PatchContextList& list, bool supportsHttps);

}  // namespace veldmoor
