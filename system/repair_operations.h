// The repair actions' operations done for real: folder access and rights, the registry path.
#pragma once

#include <memory>

#include "system/repair.h"

namespace veldmoor {

std::unique_ptr<RepairOperations> MakeSystemRepairOperations();

}  // namespace veldmoor
