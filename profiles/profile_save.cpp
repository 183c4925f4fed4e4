#include "profiles/profile_save.h"

namespace veldmoor {
namespace {

void TellWhenNotSaved(const PatchContextList& list, const Status& saved,
                      ProfileSaveNotice& notice) {
    if (!saved) {
        notice.ProfilesNotSaved(list.ProfilesFilePath(), saved.Message());
    }
}

}  // namespace

bool SaveProfilesOrTell(PatchContextList& list, ProfileSaveNotice& notice) {
    const Status saved = list.Save();
    TellWhenNotSaved(list, saved, notice);
    return saved.Ok();
}

std::optional<std::size_t> ImportContextsOrTell(PatchContextList& list, ProfileSaveNotice& notice) {
    const ContextsImport imported = list.ImportContexts();
    TellWhenNotSaved(list, imported.saved, notice);
    return imported.selected;
}

}  // namespace veldmoor
