#include "app/repair_run.h"

#include "system/text_encoding.h"
#include "ui/repair_questions.h"

namespace veldmoor {

RepairRequest RepairRequestFrom(const CLauncherAppCommandLineInfo& commandLine) {
    RepairRequest request;
    request.folder = NarrowText(commandLine.repairPath);
    request.registry = commandLine.repairRegistry != 0;
    request.rights = commandLine.repairRights != 0;
    request.settings = commandLine.repairConfig != 0;
    return request;
}

void RunRepairActions(const CLauncherAppCommandLineInfo& commandLine, RepairOperations& operations,
                      Prompt& prompt) {
    RunRepairActions(RepairRequestFrom(commandLine), operations, prompt);
}

}  // namespace veldmoor
