// The repair process's work: the repair actions that the command line selects.
#pragma once

#include "app/command_line_info.h"
#include "system/prompt.h"
#include "system/repair.h"

namespace veldmoor {

// The repair request that the options -repair <folder>, -rreg, -rrights and -rconfig describe.
RepairRequest RepairRequestFrom(const CLauncherAppCommandLineInfo& commandLine);

// Runs the repair actions selected on the command line on its repair folder.
void RunRepairActions(const CLauncherAppCommandLineInfo& commandLine, RepairOperations& operations,
                      Prompt& prompt);

}  // namespace veldmoor
