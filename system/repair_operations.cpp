#include "system/repair_operations.h"

#include <unistd.h>

namespace veldmoor {
namespace {

class SystemRepairOperations : public RepairOperations {
public:
    bool HasFolderAccess(const std::string& folder) override {
        return access(folder.c_str(), R_OK | W_OK | X_OK) == 0;
    }
    // The registry and folder-rights layers are not in this build yet; both report failure,
    // which the repair actions do not show.
    bool WriteExePath(const std::string& /*clientPath*/) override { return false; }
    bool ResetFolderRights(const std::string& /*folder*/) override { return false; }
};

}  // namespace

std::unique_ptr<RepairOperations> MakeSystemRepairOperations() {
    return std::make_unique<SystemRepairOperations>();
}

}  // namespace veldmoor
