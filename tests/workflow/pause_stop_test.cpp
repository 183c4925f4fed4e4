// Pause, resume and stop during a real transfer from the project's server, held back by a rate
// cap: whatever ends or holds the run, the installation is never mixed (each file old or new),
// nothing half written stays, and what came is kept, so the next start fetches only the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "sync/resume_data.h"
#include "system/folder_lock.h"
#include "tests/support/result_assertions.h"
#include "tests/workflow/workflow_fixture.h"
#include "tools/publish/chunk_index_writer.h"

namespace veldmoor::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::steady_clock::duration limit = seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// What ends or holds the run once part of the large file has come.
enum class Interruption {
    Close,            // the window closes: a quiet stop
    StopButton,       // the stop button
    PauseThenClose,   // held, then the window closes
    PauseThenResume,  // held, then continued to the end
};

struct PauseStopCase {
    const char* name;
    Interruption interruption;
};

class PauseStopTest : public WorkflowTest, public ::testing::WithParamInterface<PauseStopCase> {
protected:
    static constexpr std::size_t kLargeSize = 4u << 20;

    PauseStopTest() {
        published_ = {{"data/maps/map0.mul", RandomBytes(kLargeSize, 19)},
                      {"data/art.mul", RandomBytes(300000, 20)},
                      {"readme.txt", "Willkommen in Veldmoor"}};
        old_ = {{"data/art.mul", RandomBytes(300000, 21)}, {"readme.txt", "Alte Fassung"}};
        Publish("game", published_);
        for (const auto& [path, content] : old_)
            WriteOld(Game(path), content);
    }

    PatchRunRequest GameRequest() {
        PatchRunRequest request = Request();
        request.noSelfPatch = true;
        return request;
    }

    // True once the bar shows that more than 1.5 MiB of the large file came, whatever the
    // order in which the files are reported.
    bool EnoughCame() const {
        std::uint64_t total = 0;
        for (const auto& [path, content] : published_)
            total += content.size();
        const std::uint64_t needed = total - kLargeSize + (3u << 19);
        const std::vector<std::string> events = view_.Events();
        const auto begun = std::find(events.begin(), events.end(), "ShowTransferTexts:1");
        return std::any_of(begun, events.end(), [&](const std::string& event) {
            return event.starts_with("SetProgressPosition:") &&
                   std::stoull(event.substr(20)) * total >= needed * RunScreen::kProgressRange;
        });
    }

    // Bytes the server sent for the files themselves (ranges and whole files, not indexes).
    std::uint64_t FileBytesServed() {
        std::uint64_t bytes = 0;
        for (const ServedRequest& request : served_->server().takeRequests()) {
            if (request.path.find("/transfer/") != std::string::npos &&
                !request.path.ends_with(".chunks"))
                bytes += request.bodyBytes;
        }
        return bytes;
    }

    // Every listed file is its old version, its new one or (never there before) missing, and
    // nothing half written lies in the installation.
    void ExpectNeverMixed() {
        for (const auto& [path, content] : published_) {
            if (!fs::exists(Game(path))) {
                EXPECT_EQ(old_.count(path), 0u) << path << " was there before";
            } else if (test::ReadTestFile(Game(path)) != content) {
                EXPECT_EQ(test::ReadTestFile(Game(path)), old_.at(path)) << path << " is mixed";
            }
        }
        for (const auto& entry : fs::recursive_directory_iterator(gameFolder_))
            EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }

    void ExpectInstalled() {
        for (const auto& [path, content] : published_)
            EXPECT_EQ(test::ReadTestFile(Game(path)), content) << path;
    }

    // The bytes a next run still has to fetch: the files not yet new, less what resume data
    // holds of them; and how far a held stretch may miss whole blocks at its two ends.
    std::pair<std::uint64_t, std::uint64_t> Missing() const {
        std::uint64_t missing = 0;
        std::uint64_t slack = 0;
        for (const auto& [path, content] : published_) {
            if (fs::exists(Game(path)) && test::ReadTestFile(Game(path)) == content)
                continue;
            missing += content.size();
            if (const auto record = readResumeRecord(Game(path) + ".resume")) {
                for (const Piece& held : record->held)
                    missing -= held.length;
                slack += 2 * BlockSizeFor(content.size()) * record->held.size();
            }
        }
        return {missing, slack};
    }

    Files published_;
    Files old_;
    ScopedEnv rateCap_{"VELDMOOR_LIMIT_RATE", "256K"};  // per connection
};

TEST_P(PauseStopTest, KeepsWhatCameAndNeverMixesTheInstallation) {
    const Interruption interruption = GetParam().interruption;
    const bool pauses = interruption == Interruption::PauseThenClose ||
                        interruption == Interruption::PauseThenResume;
    PatchWorker worker(view_, platform_, Seams());
    worker.Start(GameRequest());
    ASSERT_TRUE(WaitUntil([&] { return EnoughCame(); })) << view_.StatusText();

    int pausedAt = 0;
    if (pauses) {
        worker.Pause();
        ASSERT_TRUE(WaitUntil([&] { return view_.Count("ShowRunControls:Paused") == 1; }));
        pausedAt = view_.Progress().back();
        // Held: the engine let go of the installation (its lock, its connections), nothing is
        // half written, and the large file's bytes wait as resume data.
        EXPECT_TRUE(test::Done(FolderLock::TryLock(gameFolder_)));
        ExpectNeverMixed();
        EXPECT_TRUE(readResumeRecord(Game("data/maps/map0.mul.resume")).has_value());
        EXPECT_TRUE(worker.IsRunning());
    }
    switch (interruption) {
        case Interruption::Close:
        case Interruption::PauseThenClose:
            worker.RequestStop();
            break;
        case Interruption::StopButton:
            worker.StopByPlayer();
            break;
        case Interruption::PauseThenResume:
            break;
    }
    if (interruption != Interruption::PauseThenResume) {
        worker.Join();
        ExpectNeverMixed();
        ASSERT_TRUE(readResumeRecord(Game("data/maps/map0.mul.resume")).has_value());
        // Only the stop button says so and gives the window back; nothing reports a failure.
        const std::string status = view_.StatusText();
        const bool stoppedByPlayer = interruption == Interruption::StopButton;
        EXPECT_EQ(status.find("Gestoppt.") != std::string::npos, stoppedByPlayer) << status;
        EXPECT_EQ(view_.Count("LeavePatchingLayout"), stoppedByPlayer ? 1 : 0);
        EXPECT_EQ(view_.Count("EndDialog:0"), 0);
    }

    // From here on, what the server sends is what was still missing, nothing again.
    FileBytesServed();
    const auto [missing, slack] = Missing();
    ASSERT_LT(missing, kLargeSize - (1u << 20)) << "less than a MiB of the large file was kept";
    if (interruption == Interruption::PauseThenResume) {
        worker.Resume();
        worker.Join();
        EXPECT_EQ(view_.Count("EndDialog:0"), 1) << view_.StatusText();
        // The bar went on from about where it stood.
        const std::vector<std::string> events = view_.Events();
        const auto resumed =
            std::find(events.begin(), events.end(), "AppendStatusLine:Wird fortgesetzt ..");
        const auto next = std::find_if(resumed, events.end(), [](const std::string& event) {
            return event.starts_with("SetProgressPosition:");
        });
        ASSERT_NE(next, events.end());
        EXPECT_GE(std::stoi(next->substr(20)), pausedAt * 3 / 4) << *next;
    } else {
        Run(GameRequest());
    }
    ExpectInstalled();
    EXPECT_FALSE(fs::exists(Game("data/maps/map0.mul.resume")));
    EXPECT_LE(FileBytesServed(), missing + slack) << "more than was missing was fetched";
    EXPECT_EQ(view_.StatusText().find("Abbruch"), std::string::npos) << view_.StatusText();
    EXPECT_TRUE(view_.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Interruptions, PauseStopTest,
    ::testing::Values(PauseStopCase{"Close", Interruption::Close},
                      PauseStopCase{"StopButton", Interruption::StopButton},
                      PauseStopCase{"PauseThenClose", Interruption::PauseThenClose},
                      PauseStopCase{"PauseThenResume", Interruption::PauseThenResume}),
    [](const ::testing::TestParamInfo<PauseStopCase>& info) { return info.param.name; });

}  // namespace
}  // namespace veldmoor::testing
