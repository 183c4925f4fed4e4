// A main dialog over two profiles in a temporary folder, shown on screen, for the tests that look
// at where its controls land and how they look. The operating system's side is recorded only.
#pragma once

#include <cmath>
#include <filesystem>
#include <memory>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_support.h"
#include "tests/workflow/recording_platform.h"
#include "ui/launcher_dlg.h"
#include "ui/news_view.h"

namespace veldmoor::uitest {

class NoRepairs : public RepairOperations {
public:
    bool HasFolderAccess(const std::string&) override { return false; }
    Status WriteExePath(const std::string&) override {
        return Status::Failed("the registry is not written in this test");
    }
    bool ResetFolderRights(const std::string&) override { return false; }
};

class ShownLauncher {
public:
    ShownLauncher() : documents_("VELDMOOR_DOCUMENTS_DIR", temp_ / "documents") {
        std::filesystem::create_directories(temp_ / "game");
        PatchContextList list(temp_.path());
        PatchContext profile;
        profile.Name = "Veldmoor";
        profile.PatchPath = temp_ / "game";
        profile.RepoPath = "https://sync.veldmoor.example/srv/";
        list.Add(profile);
        profile.Name = "Baustelle";
        list.Add(profile);
        const Status saved = list.Save();
        EXPECT_TRUE(saved.Ok()) << saved.Message();
        LauncherDialogConfig config;
        config.profilesFolder = temp_.path();
        config.platform = &platform_;
        config.repairOperations = &repairs_;
        config.shell.startProgram = [](const std::string&, const std::string&) { return true; };
        config.shell.openFolder = [](const std::string&) { return true; };
        dialog_ = new CLauncherDlg(std::move(config));
        dialog_->OnInitDialog();
        dialog_->Move(40, 40);
        dialog_->Show();
        PumpUntil([this] { return dialog_->IsShownOnScreen(); });
        Pump(std::chrono::milliseconds(200));
    }
    ~ShownLauncher() {
        dialog_->Destroy();
        Pump();
    }
    ShownLauncher(const ShownLauncher&) = delete;
    ShownLauncher& operator=(const ShownLauncher&) = delete;

    CLauncherDlg& operator*() const { return *dialog_; }
    CLauncherDlg* operator->() const { return dialog_; }
    const test::TempDir& Temp() const { return temp_; }
    testing::RecordingPlatform& Platform() { return platform_; }
    NoRepairs& Repairs() { return repairs_; }

private:
    test::TempDir temp_{"veldmoor-ui-look"};
    testing::ScopedEnv documents_;
    testing::RecordingPlatform platform_;
    NoRepairs repairs_;
    CLauncherDlg* dialog_ = nullptr;
};

// Relative luminance of a colour as contrast ratios use it.
inline double Luminance(const wxColour& colour) {
    auto channel = [](unsigned char value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.Red()) + 0.7152 * channel(colour.Green()) +
           0.0722 * channel(colour.Blue());
}

// The news area of the idle layout: the news page or, without a web view, its placeholder.
inline wxRect NewsArea(const CLauncherDlg& dialog) {
    if (dialog.NewsView() != nullptr)
        return dialog.NewsView()->GetRect();
    return dialog.newsPlaceholder->GetRect();
}

}  // namespace veldmoor::uitest
