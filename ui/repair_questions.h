// The repair actions' questions (system/repair.h) worded for the person and shown through a
// Prompt: by the repair dialog, and by the repair process, which has no window of its own.
#pragma once

#include <string>

#include "system/prompt.h"
#include "system/repair.h"

namespace veldmoor {

class PromptRepairQuestions : public RepairQuestions {
public:
    explicit PromptRepairQuestions(Prompt& prompt) : prompt_(prompt) {}

    // A warning box with OK.
    void RegistryNotWritten(const std::string& clientPath) override;
    // A warning box with Retry and Cancel; true on Retry.
    bool RetrySettingsRemoval(const std::string& fileName) override;

private:
    Prompt& prompt_;
};

// The repair actions with their questions shown through prompt.
bool RunRepairActions(const RepairRequest& request, RepairOperations& operations, Prompt& prompt);
void RemoveClientSettings(const std::string& folder, Prompt& prompt);

}  // namespace veldmoor
