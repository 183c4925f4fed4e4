#include "profiles/startup_profiles.h"

#include "profiles/repo_migration.h"

namespace veldmoor {
namespace {

// The start-up may save the store twice (the import, then the default profile): a store that
// cannot be written is told once, as the second failure would say nothing new.
class FirstFailureOnly : public ProfileSaveNotice {
public:
    explicit FirstFailureOnly(ProfileSaveNotice& notice) : notice_(notice) {}

    void ProfilesNotSaved(const std::string& file, const std::string& reason) override {
        if (!told_) {
            told_ = true;
            notice_.ProfilesNotSaved(file, reason);
        }
    }

private:
    ProfileSaveNotice& notice_;
    bool told_ = false;
};

}  // namespace

std::optional<std::size_t> PrepareProfilesAtStartup(PatchContextList& list,
                                                    InstallFolderQuestions& questions,
                                                    ProfileSaveNotice& playerNotice) {
    FirstFailureOnly notice(playerNotice);
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
