// A LauncherView for tests: turns the run's events into the window's operations with the
// window's own presenter (ui/run_presenter.h), records every operation in order, keeps the
// status text as the dialog would show it, and answers message boxes from a script
// (ScriptedPrompt). Safe to read while a worker calls it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "patch/launcher_view.h"
#include "tests/support/scripted_prompt.h"
#include "ui/run_presenter.h"
#include "ui/run_screen.h"

namespace veldmoor::testing {

class RecordingView : public LauncherView, public RunScreen {
public:
    void Report(const RunEvent& event) override { presenter_.Report(event); }
    bool Ask(const RunQuestion& question) override { return presenter_.Ask(question); }

    // Every call as "name" or "name:argument", in order.
    std::vector<std::string> Events() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::string StatusText() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return status_;
    }
    std::vector<int> Progress() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return progress_;
    }
    std::vector<std::string> Captions() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return captions_;
    }
    std::vector<ScriptedPrompt::Message> Messages() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return prompt_.messages;
    }
    int Count(const std::string& event) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        int count = 0;
        for (const std::string& e : events_)
            count += e == event ? 1 : 0;
        return count;
    }
    bool ScriptUsedUp() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return prompt_.ScriptUsedUp();
    }

    RecordingView& Answer(PromptAnswer answer) {
        const std::lock_guard<std::mutex> lock(mutex_);
        prompt_.Answer(answer);
        return *this;
    }
    // Called (outside the lock) after each recorded event, on the caller's thread.
    void OnEvent(std::function<void(const std::string&)> hook) { hook_ = std::move(hook); }

    void ClearStatusText() override {
        Record("ClearStatusText", [&] { status_.clear(); });
    }
    void AppendStatusText(const std::string& text) override {
        Record("AppendStatusText:" + text, [&] { status_ += text; });
    }
    void AppendStatusLine(const std::string& text) override {
        Record("AppendStatusLine:" + text, [&] { status_ += text + "\r\n"; });
    }
    void AppendStatusBreak() override {
        Record("AppendStatusBreak", [&] { status_ += "\r\n"; });
    }
    void EnterPatchingLayout() override {
        Record("EnterPatchingLayout", [] {});
    }
    void LeavePatchingLayout() override {
        Record("LeavePatchingLayout", [&] { progress_.push_back(0); });
    }
    void SetProgressPosition(int position) override {
        Record("SetProgressPosition:" + std::to_string(position),
               [&] { progress_.push_back(position); });
    }
    void SetSizeText(const std::string& text) override {
        Record("SetSizeText:" + text, [] {});
    }
    void SetSpeedText(const std::string& text) override {
        Record("SetSpeedText:" + text, [] {});
    }
    // Follows every size and speed text: kept apart, so the recorded operations stay those of
    // the texts themselves.
    void SetTimeLeftText(const std::string& text) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        timeLeft_ = text;
    }
    std::string TimeLeft() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return timeLeft_;
    }
    void ShowTransferTexts(bool visible) override {
        Record(visible ? "ShowTransferTexts:1" : "ShowTransferTexts:0", [] {});
    }
    void ShowRunControls(RunControls controls) override {
        static constexpr const char* kNames[] = {"Hidden", "Running", "Paused"};
        Record(std::string("ShowRunControls:") + kNames[static_cast<int>(controls)], [] {});
    }
    void SetAutoStartCaption(const std::string& caption) override {
        Record("SetAutoStartCaption:" + caption, [&] { captions_.push_back(caption); });
    }
    void EnableProfileSelector(bool enabled) override {
        Record(enabled ? "EnableProfileSelector:1" : "EnableProfileSelector:0", [] {});
    }
    void EndDialog(int result) override {
        Record("EndDialog:" + std::to_string(result), [] {});
    }

    PromptAnswer ShowMessage(const std::string& text, const std::string& caption,
                             PromptButtons buttons, PromptIcon icon) override {
        PromptAnswer answer{};
        Record("ShowMessage:" + caption,
               [&] { answer = prompt_.ShowMessage(text, caption, buttons, icon); });
        return answer;
    }
    std::optional<std::string> PickFolder(const std::string& title,
                                          const std::string& initialFolder) override {
        std::optional<std::string> folder;
        Record("PickFolder:" + title, [&] { folder = prompt_.PickFolder(title, initialFolder); });
        return folder;
    }

private:
    template <typename Change>
    void Record(const std::string& event, Change change) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
            change();
        }
        if (hook_)
            hook_(event);
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::string status_;
    std::vector<int> progress_;
    std::vector<std::string> captions_;
    std::string timeLeft_;
    ScriptedPrompt prompt_;
    RunPresenter presenter_{*this};
    std::function<void(const std::string&)> hook_;
};

}  // namespace veldmoor::testing
