// Pictures of the main dialog in its idle layout (with a news page served on loopback) and in
// its patching layout, taken from the screen. The test checks that the window is really drawn
// (its picture is not one flat colour) and cut out (a transparent corner shows the screen
// behind). With VELDMOOR_SCREENSHOT_DIR set, the pictures are kept there as idle.png and
// patching.png (scripts/screenshot-ui.sh).
#include <gtest/gtest.h>
#include <httplib.h>
#include <wx/image.h>
#include <wx/imagpng.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include "system/repair.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_test_support.h"
#include "tests/workflow/recording_platform.h"
#include "ui/launcher_dlg.h"
#include "ui/message_box.h"
#include "ui/news_view.h"
#include "ui/profile_editor_dlg.h"
#include "ui/repair_dlg.h"
#include "ui/report_texts.h"
#include "ui/translate.h"
#include "ui/wx_prompt.h"

namespace veldmoor {
namespace {

constexpr char kNewsPage[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><style>
body { background: #1e2420; color: #e2d6b8; font-family: serif; margin: 14px 18px; }
h1 { color: #ecc46e; font-size: 20px; margin: 0 0 6px; }
.date { color: #b08442; font-size: 12px; }
p { font-size: 13px; line-height: 1.4; }
a { color: #ecc46e; }
</style></head><body>
<h1>Neuigkeiten aus dem Moor</h1>
<div class="date">7. Dezember</div>
<p>Die Nebelbrücke ist wieder passierbar. Die Händler von Gräfenmoor bieten ab heute neue
Laternen an, und die Wachen am Nordtor suchen Freiwillige für die Nachtpatrouille.</p>
<p><a href="/html/forum.php">Zum Forum</a></p>
</body></html>)";

class NewsServer {
public:
    NewsServer() {
        server_.Get("/html/launcher.php", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(kNewsPage, "text/html; charset=utf-8");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~NewsServer() {
        server_.stop();
        thread_.join();
    }
    std::string Address() const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/html/launcher.php";
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

// Reads the window's area back from the X server with ImageMagick's import (the toolkit's own
// screen reads return the first picture they took).
class NoRepairs : public RepairOperations {
public:
    bool HasFolderAccess(const std::string&) override { return false; }
    Status WriteExePath(const std::string&) override {
        return Status::Failed("the registry is not written in this test");
    }
    bool ResetFolderRights(const std::string&) override { return false; }
};

// The screen is read in device pixels: at 200 % every logical pixel is two.
wxImage CaptureRect(const wxRect& logical, const std::string& folder) {
    const double scale = DisplayScale();
    const wxRect rect(static_cast<int>(logical.x * scale), static_cast<int>(logical.y * scale),
                      static_cast<int>(logical.width * scale),
                      static_cast<int>(logical.height * scale));
    const std::string file = folder + "/capture.png";
    const std::string command = "import -window root -crop " + std::to_string(rect.width) + "x" +
                                std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                                std::to_string(rect.y) + " +repage " + file;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    wxImage image;
    EXPECT_TRUE(image.LoadFile(wxString::FromUTF8(file), wxBITMAP_TYPE_PNG));
    std::filesystem::remove(file);
    return image;
}

wxImage Capture(wxWindow& window, const std::string& folder) {
    return CaptureRect(window.GetScreenRect(), folder);
}

// How many pixels two pictures of the same window differ in: two layouts are told apart by what
// they draw, not by their number of colours, which two different pictures can share.
std::size_t DifferingPixels(const wxImage& a, const wxImage& b) {
    if (a.GetSize() != b.GetSize()) {
        return static_cast<std::size_t>(a.GetWidth()) * static_cast<std::size_t>(a.GetHeight());
    }
    std::size_t differing = 0;
    const unsigned char* pa = a.GetData();
    const unsigned char* pb = b.GetData();
    for (std::size_t i = 0, n = static_cast<std::size_t>(a.GetWidth()) * a.GetHeight(); i < n;
         ++i) {
        if (pa[3 * i] != pb[3 * i] || pa[3 * i + 1] != pb[3 * i + 1] ||
            pa[3 * i + 2] != pb[3 * i + 2]) {
            ++differing;
        }
    }
    return differing;
}

std::size_t DistinctColours(const wxImage& image) {
    std::set<unsigned long> colours;
    for (int y = 0; y < image.GetHeight(); y += 3) {
        for (int x = 0; x < image.GetWidth(); x += 3) {
            colours.insert((static_cast<unsigned long>(image.GetRed(x, y)) << 16) |
                           (static_cast<unsigned long>(image.GetGreen(x, y)) << 8) |
                           image.GetBlue(x, y));
        }
    }
    return colours.size();
}

// Pixels of `image` within a small distance of `colour`.
std::size_t CountNear(const wxImage& image, const wxColour& colour) {
    std::size_t count = 0;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (std::abs(image.GetRed(x, y) - colour.Red()) < 24 &&
                std::abs(image.GetGreen(x, y) - colour.Green()) < 24 &&
                std::abs(image.GetBlue(x, y) - colour.Blue()) < 24)
                ++count;
        }
    }
    return count;
}

void Keep(const wxImage& image, const char* name) {
    if (const char* folder = std::getenv("VELDMOOR_SCREENSHOT_DIR"))
        image.SaveFile(wxString::FromUTF8(std::string(folder) + "/" + name), wxBITMAP_TYPE_PNG);
}

TEST(Screenshot, IdleAndPatchingLayoutsAreDrawnAndShaped) {
    test::TempDir temp("veldmoor-ui-shot");
    std::filesystem::create_directories(temp / "game");
    const testing::ScopedEnv documents("VELDMOOR_DOCUMENTS_DIR", temp / "documents");
    {
        PatchContextList list(temp.path());
        PatchContext profile;
        profile.Name = "Veldmoor";
        profile.PatchPath = temp / "game";
        profile.RepoPath = "https://sync.veldmoor.example/srv/";
        list.Add(profile);
        profile.Name = "Baustelle";
        list.Add(profile);
        ASSERT_TRUE(list.Save());
    }
    NewsServer news;
    testing::RecordingPlatform platform;
    NoRepairs repairOperations;
    LauncherDialogConfig config;
    config.profilesFolder = temp.path();
    config.platform = &platform;
    config.newsPageAddress = news.Address();
    auto* dialog = new CLauncherDlg(std::move(config));
    ASSERT_TRUE(dialog->OnInitDialog());
    // Placed before it is shown: a move while the window manager maps the window can be
    // applied twice, and the pictures would miss the window.
    dialog->Move(40, 40);
    dialog->Show();
    // The news page loads in the web engine's own process; give it time to show.
    uitest::Pump(std::chrono::milliseconds(2500));
    if (dialog->NewsView() != nullptr) {
        EXPECT_TRUE(dialog->NewsView()->IsShown()) << "the news page failed to load";
    }

    const wxImage idle = Capture(*dialog, temp.path());
    Keep(idle, "idle.png");
    EXPECT_GT(DistinctColours(idle), 50u);
    // The top right corner of the picture is transparent: the screen behind shows there, not
    // the dialog's black base.
    const wxImage background = dialog->BackgroundImage();
    ASSERT_TRUE(IsTransparentAt(background, {background.GetWidth() - 2, 1}));

    // A message box over the news area leaves it as it was once closed.
    if (dialog->NewsView() != nullptr) {
        const wxRect news = dialog->NewsView()->GetScreenRect();
        const wxImage before = CaptureRect(news, temp.path());
        bool boxSeen = false;
        dialog->CallAfter([&] {
            for (wxWindow* window : wxTopLevelWindows) {
                if (auto* box = dynamic_cast<CMessageBox*>(window)) {
                    uitest::PumpUntil([box] { return box->IsShownOnScreen(); });
                    uitest::Pump(std::chrono::milliseconds(400));
                    boxSeen = box->GetScreenRect().Intersects(news);
                    box->EndModal(wxID_OK);
                }
            }
        });
        ShowMessageBox(dialog, "Die Verbindung zum Server wurde unterbrochen.", "Veldmoor Launcher",
                       PromptButtons::Ok, PromptIcon::Information);
        EXPECT_TRUE(boxSeen);
        // The page is drawn by the web engine's own process, which on a busy machine can take many
        // seconds; the bound only limits a real failure.
        std::size_t changed = 0;
        const auto restored = [&] {
            uitest::Pump(std::chrono::milliseconds(100));
            const wxImage after = CaptureRect(news, temp.path());
            if (after.GetSize() != before.GetSize())
                return false;
            changed = 0;
            for (int y = 0; y < before.GetHeight(); ++y) {
                for (int x = 0; x < before.GetWidth(); ++x) {
                    if (std::abs(before.GetRed(x, y) - after.GetRed(x, y)) > 40 ||
                        std::abs(before.GetGreen(x, y) - after.GetGreen(x, y)) > 40)
                        ++changed;
                }
            }
            return changed < static_cast<std::size_t>(before.GetWidth() * before.GetHeight() / 200);
        };
        EXPECT_TRUE(uitest::PumpUntil(restored, std::chrono::seconds(30)))
            << changed
            << " pixels of the news area still differ after a message box closed over it";
    }

    dialog->EnterPatchingLayout();
    dialog->ShowRunControls(RunControls::Running);
    // The log as a run writes it, in the language of the set being photographed.
    LauncherView& run = dialog->RunView();
    run.Report(StepStarted{RunStep::Launcher});
    run.Report(FileListRequested{RunStep::Launcher});
    run.Report(StepFinished{});
    run.Report(StepStarted{RunStep::Client});
    run.Report(FileListRequested{RunStep::Client});
    // More lines than the log shows: it scrolls, and its top line must not hide under the header.
    for (int map = 0; map < 12; ++map)
        run.Report(FileFetched{"data/map" + std::to_string(map) + ".mul", true});
    // 12.40MB of 29.52MB at 1.84MB/s, as the run reports them.
    run.Report(TransfersStarted{0, 30953963});
    run.Report(TransferProgressed{13002342, 30953963});
    run.Report(TransferRate{1929380});
    uitest::Pump(std::chrono::milliseconds(2500));
    const wxImage patching = Capture(*dialog, temp.path());
    Keep(patching, "patching.png");
    EXPECT_GT(DistinctColours(patching), 50u);
    EXPECT_GT(DifferingPixels(idle, patching), 1000u);

    // The tools menu below its button: photographed while open, then closed with Escape.
    bool menuShot = false;
    std::size_t menuIconPixels = 0;
    dialog->CallAfter([&] {
        uitest::Pump(std::chrono::milliseconds(300));
        // The menu opens below its button and may reach past the window's bottom edge.
        wxRect area = dialog->GetScreenRect();
        area.height += 160;
        area.width += 120;
        const wxImage menu = CaptureRect(area, temp.path());
        Keep(menu, "menu.png");
        menuIconPixels = CountNear(menu, wxColour(232, 184, 72));
        menuShot = true;
        wxUIActionSimulator().Char(WXK_ESCAPE);
    });
    dialog->OnMoreButton();
    EXPECT_TRUE(menuShot);
    // The menu shows its icons: the folder icons' yellow is nowhere else on the window.
    EXPECT_GT(menuIconPixels, 20u);
    // A command chosen from the menu reaches the tool commands (here: the logs folder).
    {
        uitest::ScriptedBoxes boxes;
        boxes.Answer(wxID_OK);
        wxCommandEvent chosen(wxEVT_MENU, MenuItemId(kCmdOpenLogs));
        dialog->GetEventHandler()->ProcessEvent(chosen);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, tr("Du hast noch keine Logs."));
    }

    // The profile editor and the repair dialog over the main dialog.
    auto* editor = new CPatchContextDefDlg(dialog, dialog->Profiles(), {});
    editor->CentreOnParent();
    editor->Show();
    editor->list->SetSelection(0);
    editor->OnListSelection();
    uitest::Pump(std::chrono::milliseconds(500));
    const wxImage editorPicture = Capture(*editor, temp.path());
    Keep(editorPicture, "editor.png");
    EXPECT_GT(DistinctColours(editorPicture), 10u);
    editor->Destroy();

    auto* repair = new CRepairDlg(dialog, temp / "game", repairOperations, platform);
    repair->CentreOnParent();
    repair->Show();
    uitest::Pump(std::chrono::milliseconds(500));
    const wxImage repairPicture = Capture(*repair, temp.path());
    Keep(repairPicture, "repair.png");
    EXPECT_GT(DistinctColours(repairPicture), 10u);
    repair->Destroy();

    // A run held by the pause button, then stopped: the resume button in the pause button's
    // place, then the idle layout with the log of the run.
    run.Report(RunPaused{});
    uitest::Pump(std::chrono::milliseconds(500));
    const wxImage paused = Capture(*dialog, temp.path());
    Keep(paused, "paused.png");
    EXPECT_TRUE(dialog->resumeButton->IsShown() && dialog->stopButton->IsShown());
    EXPECT_FALSE(dialog->pauseButton->IsShown());
    run.Report(RunStoppedByPlayer{});
    uitest::Pump(std::chrono::milliseconds(500));
    const wxImage stopped = Capture(*dialog, temp.path());
    Keep(stopped, "stopped.png");
    EXPECT_FALSE(dialog->resumeButton->IsShown() || dialog->stopButton->IsShown());
    EXPECT_GT(DifferingPixels(paused, stopped), 200u);

    // A long message box, wrapped to the launcher's width with its paragraphs kept.
    wxImage boxPicture;
    dialog->CallAfter([&] {
        for (wxWindow* window : wxTopLevelWindows) {
            if (auto* box = dynamic_cast<CMessageBox*>(window)) {
                uitest::PumpUntil([box] { return box->IsShownOnScreen(); });
                uitest::Pump(std::chrono::milliseconds(400));
                boxPicture = Capture(*box, temp.path());
                box->EndModal(wxID_OK);
            }
        }
    });
    ShowMessageBox(
        dialog,
        ComposeRegistryWriteFailed(temp.path() +
                                   "/Spiele/Veldmoor Online/eine_sehr_lange_ordnerbezeichnung_ohne_"
                                   "leerzeichen_die_nirgends_umbrechen_kann/client.exe")
            .text,
        "Fehler", PromptButtons::Ok, PromptIcon::Error);
    Keep(boxPicture, "box.png");
    EXPECT_GT(DistinctColours(boxPicture), 10u);

    dialog->Destroy();
    uitest::Pump();
}

}  // namespace
}  // namespace veldmoor
