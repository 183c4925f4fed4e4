// A Prompt for tests: answers come from a script given in advance, and every question asked is
// recorded so a test can check captions, texts, buttons and icons byte for byte.
// Asking more questions than the script holds fails the test (and answers Cancel / no folder).
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "system/prompt.h"

namespace veldmoor::testing {

class ScriptedPrompt : public Prompt {
public:
    struct Message {
        std::string text;
        std::string caption;
        PromptButtons buttons;
        PromptIcon icon;
    };
    struct FolderRequest {
        std::string title;
        std::string initialFolder;
    };

    // Queues the answer to the next message box.
    ScriptedPrompt& Answer(PromptAnswer answer) {
        answers_.push_back(answer);
        return *this;
    }
    // Queues the folder the next folder picker returns (std::nullopt: the person cancels).
    ScriptedPrompt& PickFolderAnswer(std::optional<std::string> folder) {
        folders_.push_back(std::move(folder));
        return *this;
    }

    PromptAnswer ShowMessage(const std::string& text, const std::string& caption,
                             PromptButtons buttons, PromptIcon icon) override {
        messages.push_back(Message{text, caption, buttons, icon});
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected message box \"" << caption << "\": " << text;
            return PromptAnswer::Cancel;
        }
        const PromptAnswer answer = answers_.front();
        answers_.pop_front();
        return answer;
    }

    std::optional<std::string> PickFolder(const std::string& title,
                                          const std::string& initialFolder) override {
        folderRequests.push_back(FolderRequest{title, initialFolder});
        if (folders_.empty()) {
            ADD_FAILURE() << "unexpected folder picker \"" << title << "\"";
            return std::nullopt;
        }
        std::optional<std::string> folder = std::move(folders_.front());
        folders_.pop_front();
        return folder;
    }

    // True when every scripted answer has been used.
    bool ScriptUsedUp() const { return answers_.empty() && folders_.empty(); }

    std::vector<Message> messages;
    std::vector<FolderRequest> folderRequests;

private:
    std::deque<PromptAnswer> answers_;
    std::deque<std::optional<std::string>> folders_;
};

}  // namespace veldmoor::testing
