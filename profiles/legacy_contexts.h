// The binary "contexts" file of older launchers, imported once into profiles.xml.
// Layout: int32 count, uint32 last selected index, then count records of 1060 bytes
// (little-endian): Name[256], PatchPath[260], RepoPath[260], ExecuteAfterPatch[260],
// AutoPatch int32, unused int32, SetRegistryPath int32, three unused int32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "profiles/patch_context.h"

namespace veldmoor {

inline constexpr std::size_t kLegacyContextRecordSize = 1060;
inline constexpr std::int32_t kLegacyContextMaxCount = 99;

struct LegacyContexts {
    std::uint32_t lastSelected = 0;
    std::vector<PatchContext> profiles;
};

// Reads the file's bytes. A count outside 1 to 99 yields no profile; a file that ends inside
// a record yields the complete records before it; a file too short for its header counts as
// an empty one.
LegacyContexts ParseLegacyContexts(std::string_view bytes);

}  // namespace veldmoor
