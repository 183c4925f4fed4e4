#include "patch/transfer_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/workflow/recording_view.h"

namespace veldmoor {
namespace {

using testing::RecordingView;

class TransferProgressTest : public ::testing::Test {
protected:
    TransferProgress Make(std::uint64_t total) {
        return TransferProgress(view_, total, temp_.path(), [this] { return now_; });
    }
    std::vector<std::string> EventsStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& event : view_.Events()) {
            if (event.rfind(prefix, 0) == 0)
                found.push_back(event);
        }
        return found;
    }

    test::TempDir temp_{"veldmoor-progress"};
    RecordingView view_;
    std::uint32_t now_ = 5000;
};

TEST_F(TransferProgressTest, BeginResetsTheBarAndShowsEmptyTexts) {
    TransferProgress progress = Make(100);
    progress.Begin();
    EXPECT_EQ(view_.Events(), (std::vector<std::string>{"SetProgressPosition:0", "SetSizeText:",
                                                        "SetSpeedText:", "ShowTransferTexts:1"}));
}

TEST_F(TransferProgressTest, SecondReportWithinTheGateChangesNothingUnlessItCompletesTheFile) {
    TransferProgress progress = Make(4096);
    now_ += 10;
    progress.OnFileProgress("a.bin", 1024, 2048);  // first report: always shown
    now_ += 50;
    progress.OnFileProgress("a.bin", 1536, 2048);  // 50 ms later: gated
    EXPECT_EQ(EventsStartingWith("SetSizeText"),
              std::vector<std::string>{"SetSizeText:1.00KB/4.00KB"});
    EXPECT_EQ(view_.Progress(), std::vector<int>{250});

    now_ += 10;
    progress.OnFileProgress("a.bin", 2048, 2048);  // completes the file: forced
    EXPECT_EQ(EventsStartingWith("SetSizeText"),
              (std::vector<std::string>{"SetSizeText:1.00KB/4.00KB", "SetSizeText:2.00KB/4.00KB"}));
    EXPECT_EQ(view_.Progress(), (std::vector<int>{250, 500}));

    now_ += 101;  // past the 100 ms gate
    progress.OnFileProgress("b.bin", 1024, 2048);
    EXPECT_EQ(view_.Progress(), (std::vector<int>{250, 500, 750}));
}

TEST_F(TransferProgressTest, SpeedIsAveragedOverIntervalsOfAtLeastOneSecond) {
    TransferProgress progress = Make(1 << 20);
    now_ += 500;
    progress.OnFileProgress("a.bin", 1000, 1 << 20);  // first: 1000 bytes in 500 ms
    now_ += 600;
    progress.OnFileProgress("a.bin", 5000, 1 << 20);  // within the 1000 ms gate
    now_ += 500;
    progress.OnFileProgress("a.bin", 12000, 1 << 20);  // 11000 bytes in 1100 ms
    EXPECT_EQ(EventsStartingWith("SetSpeedText"),
              (std::vector<std::string>{"SetSpeedText:1.95KB/s", "SetSpeedText:9.77KB/s"}));
}

TEST_F(TransferProgressTest, NoElapsedTimeShowsZeroSpeedAndKeepsMeasuringFromTheStart) {
    TransferProgress progress = Make(1 << 20);
    progress.OnFileProgress("a.bin", 4096, 1 << 20);  // same tick as the start
    now_ += 2000;
    progress.OnFileProgress("a.bin", 8192, 1 << 20);  // 8192 bytes over the 2000 ms since the start
    EXPECT_EQ(EventsStartingWith("SetSpeedText"),
              (std::vector<std::string>{"SetSpeedText:0B/s", "SetSpeedText:4.00KB/s"}));
}

TEST_F(TransferProgressTest, NothingToDownloadShowsAFullBar) {
    TransferProgress progress = Make(0);
    progress.OnFileProgress("empty.bin", 0, 0);
    EXPECT_EQ(view_.Progress(), (std::vector<int>{1000, 1000}));
    EXPECT_EQ(EventsStartingWith("SetSizeText").back(), "SetSizeText:0B/0B");
    EXPECT_EQ(ProgressPosition(0, 0), 1000);
    EXPECT_EQ(ProgressPosition(7, 5), 1000);  // a wrapped counter never leaves the bar
    EXPECT_EQ(ProgressPosition(1, 3), 333);
}

TEST_F(TransferProgressTest, APhaseOfMoreThanFourGigabytesCountsOnPastThem) {
    constexpr std::uint32_t kFile = 3U << 30;  // 3 GiB, two of them
    TransferProgress progress = Make(2ULL * kFile);
    progress.OnFileProgress("a.mul", kFile, kFile);
    now_ += 2000;
    progress.OnFileProgress("b.mul", kFile / 2, kFile);
    EXPECT_EQ(view_.Progress().back(), 750);
    EXPECT_EQ(EventsStartingWith("SetSizeText").back(), "SetSizeText:4.50GB/6.00GB");
    // 4.5 GiB in the two seconds since the phase began (the first report had no time to measure).
    EXPECT_EQ(EventsStartingWith("SetSpeedText").back(), "SetSpeedText:2.25GB/s");
    progress.OnFileProgress("b.mul", kFile, kFile);
    EXPECT_EQ(view_.Progress().back(), 1000);
    EXPECT_EQ(EventsStartingWith("SetSizeText").back(), "SetSizeText:6.00GB/6.00GB");
}

TEST_F(TransferProgressTest, ZeroOfZeroCompletesTheFileAndCountsTowardsTheTotal) {
    TransferProgress progress = Make(2000);
    progress.OnFileProgress("a.bin", 1000, 1000);  // first report, then its forced completion
    progress.OnFileProgress("b.bin", 0, 0);        // gated, but completes at once: forced
    now_ += 1;
    progress.OnFileProgress("c.bin", 500, 1000);  // gated and incomplete: nothing
    EXPECT_EQ(EventsStartingWith("SetSizeText"),
              (std::vector<std::string>{"SetSizeText:1000B/1.95KB", "SetSizeText:1000B/1.95KB",
                                        "SetSizeText:1000B/1.95KB"}));
    now_ += 200;
    progress.OnFileProgress("c.bin", 600, 1000);  // counts on from the 1000 bytes finished
    EXPECT_EQ(EventsStartingWith("SetSizeText").back(), "SetSizeText:1.56KB/1.95KB");
}

TEST_F(TransferProgressTest, OneLinePerFileChangeTellingUpdatedFromDownloaded) {
    test::WriteTestFile(temp_ / "data/existing.mul", "old");
    test::WriteTestFile(temp_ / "data/empty.mul", "");
    TransferProgress progress = Make(100);
    progress.OnFileProgress("data/existing.mul", 1, 10);
    progress.OnFileProgress("data/existing.mul", 2, 10);
    progress.OnFileProgress("data/missing.mul", 1, 10);
    progress.OnFileProgress("data/empty.mul", 1, 10);
    progress.OnFileProgress("data/existing.mul", 3, 10);
    EXPECT_EQ(view_.StatusText(),
              "'data/existing.mul' wird aktualisiert ..\r\n"
              "'data/missing.mul' wird heruntergeladen ..\r\n"
              "'data/empty.mul' wird heruntergeladen ..\r\n"
              "'data/existing.mul' wird aktualisiert ..\r\n");
}

TEST(OnFileCheck, LogsTheExaminedFile) {
    RecordingView view;
    MakeFileCheckCallback(view)("art/gumps.mul");
    EXPECT_EQ(view.StatusText(), "Ermittle herunterzuladene Daten für 'art/gumps.mul' ..\r\n");
}

}  // namespace
}  // namespace veldmoor
