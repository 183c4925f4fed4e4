#include "profiles/startup_profiles.h"

#include "profiles/repo_migration.h"

namespace veldmoor {

std::optional<std::size_t> PrepareProfilesAtStartup(PatchContextList& list,
                                                    InstallFolderQuestions& questions,
                                                    ProfileSaveNotice& notice) {
    std::optional<std::size_t> selected = ImportContextsOrTell(list, notice);
    if (!selected) {
        selected = list.Load();
    }
    if (!selected) {
        const std::size_t defaultIndex = EnsureDefaultProfile(list);
        if (!AcquireInstallPath(questions, *list.At(defaultIndex), true)) {
            return std::nullopt;
        }
        SaveProfilesOrTell(list, notice);
        selected = 0;
    }
    MigrateRepoPaths(list);
    EnsureDefaultProfile(list);
    return selected;
}

}  // namespace veldmoor
