// The questions the launcher asks a person: message boxes and the folder picker, with texts
// already worded. Code below the window asks typed questions of its own (values, no words),
// which the window layer words and shows through this interface; none of it opens a window.
// The wx dialog answers with real boxes, tests with scripted answers, command-line tools on
// the terminal.
#pragma once

#include <optional>
#include <string>

namespace veldmoor {

enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class PromptIcon { None, Error, Warning, Question, Information };
enum class PromptAnswer { Ok, Cancel, Yes, No, Retry };

class Prompt {
public:
    virtual ~Prompt() = default;

    // Shows a modal message box (texts are UTF-8) and returns the button the person chose.
    virtual PromptAnswer ShowMessage(const std::string& text, const std::string& caption,
                                     PromptButtons buttons, PromptIcon icon) = 0;

    // Lets the person choose a folder; std::nullopt when they cancel.
    virtual std::optional<std::string> PickFolder(const std::string& title,
                                                  const std::string& initialFolder) = 0;
};

}  // namespace veldmoor
