#include "app/stderr_prompt.h"

namespace veldmoor {

PromptAnswer StderrPrompt::ShowMessage(const std::string& text, const std::string& caption,
                                       PromptButtons buttons, PromptIcon /*icon*/) {
    std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(out_);
    switch (buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::YesNo:
            return PromptAnswer::No;
        case PromptButtons::OkCancel:
        case PromptButtons::YesNoCancel:
        case PromptButtons::RetryCancel:
            return PromptAnswer::Cancel;
    }
    return PromptAnswer::Cancel;
}

std::optional<std::string> StderrPrompt::PickFolder(const std::string& title,
                                                    const std::string& /*initialFolder*/) {
    std::fprintf(out_, "%s: no display to choose a folder on\n", title.c_str());
    std::fflush(out_);
    return std::nullopt;
}

}  // namespace veldmoor
