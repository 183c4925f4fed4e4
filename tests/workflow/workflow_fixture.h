// A whole patch run's surroundings in one temporary folder: the launcher folder, a game folder,
// and two repositories ("launcher" and "game") published with the project's publisher and served
// on loopback. The worker runs with a recording view and platform; pauses are recorded instead of
// slept.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "patch/patch_worker.h"
#include "tests/support/served_repository.h"
#include "tests/support/temp_dir.h"
#include "tests/workflow/recording_platform.h"
#include "tests/workflow/recording_view.h"
#include "tools/publish/repository_publisher.h"

namespace veldmoor::testing {

using Files = std::map<std::string, std::string>;

class WorkflowTest : public ::testing::Test {
protected:
    WorkflowTest()
        : launcherFolder_(temp_ / "launcher"),
          gameFolder_(temp_ / "game"),
          served_(ServeFolder(temp_ / "server")) {
        std::filesystem::create_directories(launcherFolder_);
        std::filesystem::create_directories(gameFolder_);
        Publish("launcher", {});
        Publish("game", {});
    }

    static std::unique_ptr<test::ServedRepository> ServeFolder(const std::string& root) {
        std::filesystem::create_directories(root);
        return std::make_unique<test::ServedRepository>(root);
    }

    // Replaces the named repository's content with files (repository path -> content).
    void Publish(const std::string& repository, const Files& files) {
        const std::string source = temp_ / ("source-" + repository);
        std::filesystem::remove_all(source);
        std::filesystem::create_directories(source);
        for (const auto& [path, content] : files)
            test::WriteTestFile(source + "/" + path, content);
        PublishOptions options;
        options.sourceDir = source;
        options.repoDir = temp_ / ("server/" + repository);
        PublishRepository(options);
    }

    PatchContext Profile() const {
        PatchContext profile;
        profile.Name = "Veldmoor";
        profile.PatchPath = gameFolder_;
        profile.RepoPath = served_->address("game");
        return profile;
    }

    PatchRunRequest Request(int countdown = 0) {
        PatchRunRequest request;
        request.profile = Profile();
        request.saveProfiles = [this] {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++saves_;
        };
        request.countdownSeconds = countdown;
        request.launcherFolder = launcherFolder_;
        request.launcherRepoAddress = served_->address("launcher");
        return request;
    }

    PatchRunSeams Seams() {
        PatchRunSeams seams;
        seams.sleep = [this](std::chrono::milliseconds duration) {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                sleeps_.push_back(duration);
            }
            if (onSleep_)
                onSleep_(duration);
        };
        seams.ticks = [this] {
            const std::lock_guard<std::mutex> lock(mutex_);
            return tick_ += 1000;  // every report passes both time gates
        };
        return seams;
    }

    // Runs one whole run to its end.
    void Run(PatchRunRequest request) {
        PatchWorker worker(view_, platform_, Seams());
        worker.Start(std::move(request));
        worker.Join();
    }

    std::vector<std::chrono::milliseconds> Sleeps() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }
    int Saves() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return saves_;
    }

    std::string Launcher(const std::string& relative) const {
        return launcherFolder_ + "/" + relative;
    }
    std::string Game(const std::string& relative) const { return gameFolder_ + "/" + relative; }

    test::TempDir temp_{"veldmoor-workflow"};
    std::string launcherFolder_;
    std::string gameFolder_;
    std::unique_ptr<test::ServedRepository> served_;
    RecordingView view_;
    RecordingPlatform platform_;
    std::function<void(std::chrono::milliseconds)> onSleep_;

private:
    std::mutex mutex_;
    std::vector<std::chrono::milliseconds> sleeps_;
    int saves_ = 0;
    std::uint32_t tick_ = 0;
};

}  // namespace veldmoor::testing
