#include "system/repair_operations.h"

#include "system/folder_rights.h"
#include "system/registry.h"

namespace veldmoor {
namespace {

class SystemRepairOperations : public RepairOperations {
public:
    bool HasFolderAccess(const std::string& folder) override {
        return veldmoor::HasFolderAccess(folder, kFolderRead | kFolderWrite);
    }
    Status WriteExePath(const std::string& clientPath) override {
        return veldmoor::WriteExePath(clientPath);
    }
    bool ResetFolderRights(const std::string& folder) override {
        return veldmoor::ResetFolderRights(folder);
    }
};

}  // namespace

std::unique_ptr<RepairOperations> MakeSystemRepairOperations() {
    return std::make_unique<SystemRepairOperations>();
}

}  // namespace veldmoor
