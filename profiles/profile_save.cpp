#include "profiles/profile_save.h"

#include <string>

#include "system/product.h"

namespace veldmoor {

bool SaveProfilesOrTell(PatchContextList& list, Prompt& prompt) {
    const Status saved = list.Save();
    if (saved) {
        return true;
    }
    prompt.ShowMessage("Die Profile konnten nicht in '" + list.ProfilesFilePath() +
                           "' gespeichert werden:\r\n" + saved.Message() +
                           "\r\n\r\nPrüfe, ob der Ordner beschreibbar ist und genug freier "
                           "Speicherplatz vorhanden ist. Bis dahin gelten deine Änderungen nur "
                           "bis zum Beenden des Launchers.",
                       kProductName, PromptButtons::Ok, PromptIcon::Warning);
    return false;
}

}  // namespace veldmoor
