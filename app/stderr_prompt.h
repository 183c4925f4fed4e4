// Start-up messages when no display is available: written to standard error. Nobody can answer,
// so a question gets the answer that changes nothing (Cancel, No).
#pragma once

#include <cstdio>

#include "system/prompt.h"

namespace veldmoor {

class StderrPrompt : public Prompt {
public:
    explicit StderrPrompt(std::FILE* out = stderr) : out_(out) {}

    PromptAnswer ShowMessage(const std::string& text, const std::string& caption,
                             PromptButtons buttons, PromptIcon icon) override;
    std::optional<std::string> PickFolder(const std::string& title,
                                          const std::string& initialFolder) override;

private:
    std::FILE* out_;
};

}  // namespace veldmoor
