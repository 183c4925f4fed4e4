// The window's answer to Prompt: real message boxes and the folder picker, owned by a window
// (the main dialog) or by none.
#pragma once

#include <wx/window.h>

#include "system/prompt.h"

namespace veldmoor {

class WxPrompt : public Prompt {
public:
    // `owner` may be null: the boxes then belong to no window.
    explicit WxPrompt(wxWindow* owner) : owner(owner) {}

    PromptAnswer ShowMessage(const std::string& text, const std::string& caption,
                             PromptButtons buttons, PromptIcon icon) override;
    std::optional<std::string> PickFolder(const std::string& title,
                                          const std::string& initialFolder) override;

private:
    wxWindow* owner;
};

// The same box as WxPrompt::ShowMessage, for code that has no Prompt object at hand.
PromptAnswer ShowMessageBox(wxWindow* owner, const std::string& text, const std::string& caption,
                            PromptButtons buttons, PromptIcon icon);

// Texts of the system's encoding: the launcher's strings are UTF-8.
inline wxString FromUtf8(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}
inline std::string ToUtf8(const wxString& text) {
    return std::string(text.utf8_str());
}

}  // namespace veldmoor
