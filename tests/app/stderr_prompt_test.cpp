#include "app/stderr_prompt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace veldmoor {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string Written(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

TEST(StderrPrompt, WritesCaptionAndTextAndAnswersWhatChangesNothing) {
    const std::unique_ptr<std::FILE, FileCloser> out(std::tmpfile());
    ASSERT_NE(out, nullptr);
    StderrPrompt prompt(out.get());
    EXPECT_EQ(prompt.ShowMessage("Code: 1", "Fehler", PromptButtons::Ok, PromptIcon::Error),
              PromptAnswer::Ok);
    // Nobody can choose Retry, so a Retry/Cancel loop always ends.
    EXPECT_EQ(
        prompt.ShowMessage("a\r\nb", "Fehler", PromptButtons::RetryCancel, PromptIcon::Warning),
        PromptAnswer::Cancel);
    EXPECT_EQ(prompt.ShowMessage("?", "Frage", PromptButtons::YesNo, PromptIcon::Question),
              PromptAnswer::No);
    EXPECT_EQ(prompt.ShowMessage("?", "Frage", PromptButtons::YesNoCancel, PromptIcon::Question),
              PromptAnswer::Cancel);
    EXPECT_EQ(prompt.ShowMessage("?", "Achtung", PromptButtons::OkCancel, PromptIcon::Warning),
              PromptAnswer::Cancel);
    EXPECT_EQ(prompt.PickFolder("Ordner", "/games"), std::nullopt);
    EXPECT_EQ(Written(out.get()),
              "Fehler: Code: 1\nFehler: a\r\nb\nFrage: ?\nFrage: ?\nAchtung: ?\n"
              "Ordner: no display to choose a folder on\n");
}

}  // namespace
}  // namespace veldmoor
