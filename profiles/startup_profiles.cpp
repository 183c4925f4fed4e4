#include "profiles/startup_profiles.h"

#include "profiles/install_path.h"
#include "profiles/profile_save.h"
#include "profiles/repo_migration.h"

namespace veldmoor {

std::optional<std::size_t> PrepareProfilesAtStartup(PatchContextList& list, Prompt& prompt) {
    std::optional<std::size_t> selected = list.ImportContexts();
    if (!selected) {
        selected = list.Load();
    }
    if (!selected) {
        const std::size_t defaultIndex = EnsureDefaultProfile(list);
        if (!AcquireInstallPath(prompt, *list.At(defaultIndex), true)) {
            return std::nullopt;
        }
        SaveProfilesOrTell(list, prompt);
        selected = 0;
    }
    MigrateRepoPaths(list);
    EnsureDefaultProfile(list);
    return selected;
}

}  // namespace veldmoor
