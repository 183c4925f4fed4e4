#include "profiles/repo_migration.h"

#include <array>
#include <string>
#include <utility>

#include "profiles/addresses.h"
#include "system/path.h"

namespace veldmoor {

void MigrateRepoPaths(PatchContextList& list) {
    MigrateRepoPaths(list, SupportsHttps());
}

void MigrateRepoPaths(PatchContextList& list, bool supportsHttps) {
    const std::string main = AdjustScheme(MainRepoAddress(), supportsHttps);
    const std::string build = AdjustScheme(BuildRepoAddress(), supportsHttps);
    // Checked in this order; the first match decides.
    const std::array<std::pair<std::string, const std::string*>, 7> rules = {{
        {LegacyMainAddress(), &main},
        {LegacyBuildAddressOnUpdateServer(), &build},
        {LegacyBuildAddressOnBuildServer(), &build},
        {MainRepoAddress(), &main},
        {BuildRepoAddress(), &build},
        {ForceHttp(MainRepoAddress()), &main},
        {ForceHttp(BuildRepoAddress()), &build},
    }};
    for (std::size_t i = 0; i < list.Count(); ++i) {
        PatchContext& profile = *list.At(i);
        for (const auto& [known, replacement] : rules) {
            if (EqualsNoCase(profile.RepoPath.str(), known)) {
                profile.RepoPath = *replacement;
                break;
            }
        }
    }
}

std::size_t EnsureDefaultProfile(PatchContextList& list) {
    return EnsureDefaultProfile(list, SupportsHttps());
}

std::size_t EnsureDefaultProfile(PatchContextList& list, bool supportsHttps) {
    const std::string main = AdjustScheme(MainRepoAddress(), supportsHttps);
    for (std::size_t i = 0; i < list.Count(); ++i) {
        if (EqualsNoCase(list.At(i)->RepoPath.str(), main)) {
            return i;
        }
    }
    PatchContext profile;
    profile.Name = kDefaultProfileName;
    profile.RepoPath = main;
    list.Add(profile);
    return list.Count() - 1;
}

}  // namespace veldmoor
