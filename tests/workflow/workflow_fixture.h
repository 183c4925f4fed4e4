// A whole patch run's surroundings in one temporary folder: the launcher folder, a game folder,
// and two repositories ("launcher" and "game") published with the project's publisher and served
// on loopback. The worker runs with a recording view and platform; pauses are recorded instead of
// slept. SignRepositories turns the repositories into signed ones checked against a root of
// trust, as a world's maintainers would publish them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "patch/patch_worker.h"
#include "profiles/addresses.h"
#include "profiles/trust_roots.h"
#include "tests/support/process_runner.h"
#include "tests/support/result_assertions.h"
#include "tests/support/scoped_env.h"
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

    // Replaces the named repository's content with files (repository path -> content), signed
    // once SignRepositories was called.
    void Publish(const std::string& repository, const Files& files) {
        const std::string source = temp_ / ("source-" + repository);
        std::filesystem::remove_all(source);
        std::filesystem::create_directories(source);
        for (const auto& [path, content] : files)
            test::WriteTestFile(source + "/" + path, content);
        const std::string repoDir = temp_ / ("server/" + repository);
        if (!keys_.empty()) {
            test::Publish(source, repoDir,
                          {"--quiet", "--key", keys_ + "/signing.key", "--root", RootFile()});
            return;
        }
        PublishOptions options;
        options.sourceDir = source;
        options.repoDir = repoDir;
        ASSERT_TRUE(test::Done(PublishRepository(options)));
    }

    // Makes a root key and a signing key and a root of trust with the real veldmoor-publish;
    // from then on Publish signs, the run takes the root as the one built into the program, and
    // the game repository is "srv", served at the built-in main address, so that it takes the
    // root too.
    void SignRepositories() {
        keys_ = temp_ / "keys";
        std::filesystem::create_directories(keys_);
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{"keygen", keys_ + "/root"},
              std::vector<std::string>{"keygen", keys_ + "/signing"},
              std::vector<std::string>{"root", "--root-key", keys_ + "/root.key", "--signing-key",
                                       keys_ + "/signing.pub", RootFile()}}) {
            const test::ProgramResult made = test::RunProgram(test::PublishProgram(), arguments);
            ASSERT_EQ(made.exitCode, 0) << made.output;
        }
        rootOverride_.emplace(kTrustRootOverrideVariable, RootFile());
        serverOverride_.emplace(kServerOverrideVariable, served_->server().baseUrl());
        gameRepository_ = "srv";
        Publish("launcher", {});
        Publish(gameRepository_, {});
    }
    std::string RootFile() const { return keys_ + "/1.root"; }
    // The repositories whose trusted state the runs keep beside the profiles.
    std::vector<std::string> TrustedStates() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(temp_ / "profiles/trust", error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // A local file from long ago: its time differs from any listed one, as an outdated file's does.
    static void WriteOld(const std::string& path, const std::string& content) {
        test::WriteTestFile(path, content);
        std::filesystem::last_write_time(
            path, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    }
    // Changes a file's bytes but keeps its time, so that a run that goes by times alone passes
    // it by.
    static void ChangeKeepingTime(const std::string& path, const std::string& content) {
        const std::filesystem::file_time_type time = std::filesystem::last_write_time(path);
        test::WriteTestFile(path, content);
        std::filesystem::last_write_time(path, time);
    }

    PatchContext Profile() const {
        PatchContext profile;
        profile.Name = "Veldmoor";
        profile.PatchPath = gameFolder_;
        profile.RepoPath = served_->address(gameRepository_);
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
        request.profilesFolder = temp_ / "profiles";
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
    void Run(PatchRunRequest request) { Run(std::move(request), view_); }
    void Run(PatchRunRequest request, RecordingView& view) {
        PatchWorker worker(view, platform_, Seams());
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
    std::string gameRepository_ = "game";

private:
    std::string keys_;  // empty: the repositories are not signed
    std::optional<ScopedEnv> rootOverride_;
    std::optional<ScopedEnv> serverOverride_;
    std::mutex mutex_;
    std::vector<std::chrono::milliseconds> sleeps_;
    int saves_ = 0;
    std::uint32_t tick_ = 0;
};

}  // namespace veldmoor::testing
