// The repair actions: the game's registry path, the installation folder's access rights and the
// client's settings. They run in the repair process that start-up enters with -repair, or in the
// launcher's own process from the repair dialog. Nothing here opens a window or words a text:
// what needs the person goes through RepairQuestions, which the layers above word
// (ui/repair_questions.h).
#pragma once

#include <string>

#include "system/result.h"

namespace veldmoor {

// What the repair actions tell the person or ask them, as values.
class RepairQuestions {
public:
    virtual ~RepairQuestions() = default;
    // The game's registry entry could not be written; `clientPath` is what it should name.
    virtual void RegistryNotWritten(const std::string& clientPath) = 0;
    // The settings folder could not be moved aside (`fileName` empty), or the client's file
    // `fileName` in the installation could not be deleted: true to try again.
    virtual bool RetrySettingsRemoval(const std::string& fileName) = 0;
};

struct RepairRequest {
    // The installation folder the actions work on.
    std::string folder;
    bool registry = false;  // write the folder's client.exe as the game's ExePath
    bool rights = false;    // reset the folder's access rights
    bool settings = false;  // move the client's settings aside and delete uo.cfg
};

// The operating-system operations the repair actions build on. SystemRepairOperations (below)
// does them for real; tests record them.
class RepairOperations {
public:
    virtual ~RepairOperations() = default;
    // Whether this process may both read and write folder.
    virtual bool HasFolderAccess(const std::string& folder) = 0;
    virtual Status WriteExePath(const std::string& clientPath) = 0;
    virtual bool ResetFolderRights(const std::string& folder) = 0;
};

// Performs the requested actions on request.folder. Does nothing when the folder does not exist
// or may not be both read and written. False when the registry entry was asked for and not
// written (also for that reason); the person was then told (RegistryNotWritten). A failed
// rights step is not shown: the patch run checks the folder's access again after a rights repair.
bool RunRepairActions(const RepairRequest& request, RepairOperations& operations,
                      RepairQuestions& questions);

// The settings repair. Renames the client's settings folder (Veldmoor/Einstellungen in the
// user's Documents folder) to a backup named after the current time, then deletes uo.cfg in the
// installation folder. Does nothing at all when the settings folder does not exist. When the
// folder cannot be renamed or uo.cfg cannot be deleted, the person is asked to close the client
// and may retry or give up (which ends the repair).
void RemoveClientSettings(const std::string& folder, RepairQuestions& questions);

// The settings folder: Veldmoor/Einstellungen in the Documents folder of the person at the
// desktop (also when the repair runs as root on their behalf); empty when there is none.
std::string ClientSettingsFolder();

// The backup name for the settings folder at a time (seconds since 1970): the folder's path,
// '_' and the seconds. When that name is taken (a repair in the same second), "_2", "_3", ...
// follow, so an earlier backup is never overwritten and the rename cannot fail for that reason.
std::string SettingsBackupName(const std::string& settingsFolder, long long secondsSince1970);

}  // namespace veldmoor
