// Where the windows' controls land and how they are drawn, at the display scale the test binary
// runs with, and the same checks again in runs of this binary at 125 %, 150 % and 200 %: every
// button inside its window's client area and apart from the others, dialog buttons as large as
// their texts need, pictures sized once and drawn at the display's resolution.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/imagpng.h>
#include <wx/mstream.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "system/folders.h"
#include "system/repair.h"
#include "tests/support/process_runner.h"
#include "tests/ui/launcher_fixture.h"
#include "tests/ui/window_manager.h"
#include "ui/about_dlg.h"
#include "ui/profile_editor_dlg.h"
#include "ui/profile_questions.h"
#include "ui/repair_dlg.h"
#include "ui/report_texts.h"
#include "ui/resources.h"
#include "ui/wx_prompt.h"

namespace veldmoor {
namespace {

using uitest::Pump;
using uitest::PumpUntil;

void CollectChildren(wxWindow& parent, std::vector<wxWindow*>& into) {
    for (wxWindow* child : parent.GetChildren()) {
        if (child->IsTopLevel() || !child->IsShown())
            continue;
        into.push_back(child);
        CollectChildren(*child, into);
    }
}

// A control's rectangle in its top-level window's client coordinates.
wxRect RectInWindow(wxWindow& control) {
    wxWindow* top = wxGetTopLevelParent(&control);
    return wxRect(top->ScreenToClient(control.GetScreenPosition()), control.GetSize());
}

void ExpectInsideClientArea(wxWindow& control) {
    const wxWindow* top = wxGetTopLevelParent(&control);
    const wxRect client(top->GetClientSize());
    const wxRect rect = RectInWindow(control);
    EXPECT_TRUE(client.Contains(rect))
        << control.GetClassInfo()->GetClassName() << " '" << control.GetLabel().utf8_str()
        << "' at " << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height
        << " outside the client area " << client.width << "x" << client.height;
}

void ExpectApart(const std::vector<wxWindow*>& controls) {
    for (std::size_t i = 0; i < controls.size(); ++i) {
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(RectInWindow(*controls[i]).Intersects(RectInWindow(*controls[j])))
                << "'" << controls[i]->GetLabel().utf8_str() << "' (" << controls[i]->GetId()
                << ") overlaps '" << controls[j]->GetLabel().utf8_str() << "' ("
                << controls[j]->GetId() << ")";
        }
    }
}

// Every button of a dialog lies wholly in its client area, is as large as its text needs and
// overlaps no other button; no control reaches past the client area.
void ExpectDialogButtonsWhole(wxDialog& dialog, std::size_t leastButtons = 2) {
    dialog.Show();
    ASSERT_TRUE(PumpUntil([&] { return dialog.IsShownOnScreen(); }));
    Pump(std::chrono::milliseconds(300));
    std::vector<wxWindow*> children;
    CollectChildren(dialog, children);
    std::vector<wxWindow*> buttons;
    for (wxWindow* child : children) {
        ExpectInsideClientArea(*child);
        if (auto* button = dynamic_cast<wxButton*>(child)) {
            buttons.push_back(button);
            const wxSize best = button->GetBestSize();
            EXPECT_GE(button->GetSize().x, best.x) << button->GetLabel().utf8_str();
            EXPECT_GE(button->GetSize().y, best.y) << button->GetLabel().utf8_str();
        }
    }
    EXPECT_GE(buttons.size(), leastButtons);
    ExpectApart(buttons);
    // The window manager's frame comes on top of the client area, never out of it.
    EXPECT_GE(dialog.GetSize().y, dialog.GetClientSize().y);
}

TEST(WindowLayout, MainWindowPicturesAreScaledOnceAndItsButtonsLieApartInsideIt) {
    uitest::ShownLauncher launcher;
    const SkinUnits units;
    EXPECT_EQ(launcher->GetClientSize(), wxSize(units.Pixels(770), units.Pixels(454)));
    EXPECT_EQ(launcher->BackgroundImage().GetSize(), launcher->GetClientSize());

    struct Expected {
        CPictureButton* button;
        int designSize;
    };
    const Expected pictureButtons[] = {{launcher->editButton, 22},
                                       {launcher->repairButton, 42},
                                       {launcher->startButton, 42},
                                       {launcher->closeButton, 20},
                                       {launcher->minimiseButton, 20},
                                       {launcher->moreButton, 22},
                                       // shown while patching; resume takes pause's place
                                       {launcher->pauseButton, 22},
                                       {launcher->stopButton, 22}};
    std::vector<wxWindow*> controls;
    for (const Expected& expected : pictureButtons) {
        CPictureButton& button = *expected.button;
        const int side = units.Pixels(expected.designSize);
        EXPECT_EQ(button.GetSize(), wxSize(side, side)) << button.GetId();
        // Hit tests use the picture at the button's size: its middle takes clicks, its
        // transparent corner does not.
        EXPECT_EQ(button.CurrentImage().GetSize(), button.GetSize()) << button.GetId();
        EXPECT_FALSE(IsTransparentAt(button.CurrentImage(), {side / 2, side / 2}));
        EXPECT_TRUE(IsTransparentAt(button.CurrentImage(), {0, 0}));
        ExpectInsideClientArea(button);
        controls.push_back(&button);
    }
    for (wxWindow* other : {static_cast<wxWindow*>(launcher->profileList),
                            static_cast<wxWindow*>(launcher->autoStart),
                            static_cast<wxWindow*>(launcher->versionText)}) {
        ExpectInsideClientArea(*other);
        controls.push_back(other);
    }
    ExpectApart(controls);
    // The profile list fits above the news area instead of reaching into it.
    EXPECT_FALSE(launcher->profileList->GetRect().Intersects(uitest::NewsArea(*launcher)));
    // The selector is drawn on the skin's dark ground, not the toolkit's white.
    const wxImage selector =
        uitest::CaptureFromScreen(*launcher->profileList, launcher.Temp().path());
    double light = 0;
    for (int y = 0; y < selector.GetHeight(); ++y) {
        for (int x = 0; x < selector.GetWidth(); ++x)
            light += uitest::Luminance(
                {selector.GetRed(x, y), selector.GetGreen(x, y), selector.GetBlue(x, y)});
    }
    EXPECT_LT(light / (selector.GetWidth() * selector.GetHeight()), 0.1);
    // Between the check box's mark and its label lies at least half a character's width.
    const wxImage box = uitest::CaptureFromScreen(*launcher->autoStart, launcher.Temp().path());
    std::vector<bool> ink(static_cast<std::size_t>(box.GetWidth()));
    for (int x = 0; x < box.GetWidth(); ++x) {
        for (int y = 0; y < box.GetHeight(); ++y)
            ink[x] = ink[x] || uitest::Luminance(
                                   {box.GetRed(x, y), box.GetGreen(x, y), box.GetBlue(x, y)}) > 0.3;
    }
    const auto mark = std::find(ink.begin(), ink.end(), true);
    const auto markEnd = std::find(mark, ink.end(), false);
    const auto label = std::find(markEnd, ink.end(), true);
    EXPECT_GE((label - markEnd) / DisplayScale(), launcher->autoStart->GetCharWidth() / 2.0);
    // A name the selector has to cut shows whole as its tooltip; a name that fits has none.
    struct Named {
        std::string name;
        bool cut;
    };
    for (const Named& named :
         {Named{"Welt", false}, Named{"Hauptwelt mit allen Erweiterungen und Testserver", true}}) {
        launcher->Profiles().At(0)->Name = named.name;
        launcher->FillProfileList();
        launcher->profileList->SetSelection(0);
        launcher->OnProfileSelected();
        EXPECT_EQ(launcher->profileList->GetToolTipText().utf8_str(),
                  named.cut ? named.name : std::string());
    }
    // The window's shape follows the picture at its scaled size: a transparent corner is cut
    // out, the middle stays.
    const wxRegion shape = RegionFromAlpha(launcher->GetClientSize(), launcher->BackgroundImage());
    EXPECT_EQ(shape.Contains(launcher->GetClientSize().x - 2, 1), wxOutRegion);
    EXPECT_EQ(shape.Contains(launcher->GetClientSize().x / 2, launcher->GetClientSize().y / 2),
              wxInRegion);
}

TEST(WindowLayout, PicturesAreDrawnAtTheDisplaysResolution) {
    const double display = DisplayScale();
    const wxBitmap start = LoadPngBitmap(150, wxSize(42, 42));
    ASSERT_TRUE(start.IsOk());
    const int device = static_cast<int>(std::lround(42 * display));
    EXPECT_EQ(start.GetWidth(), device);
    EXPECT_EQ(start.GetHeight(), device);
    EXPECT_DOUBLE_EQ(start.GetScaleFactor(), display);
    if (device == 84) {
        // At 200 % the picture is the one drawn at twice the size, not the small one enlarged.
        const std::span<const std::byte> bytes = PngResource(150, 2);
        ASSERT_FALSE(bytes.empty());
        wxMemoryInputStream stream(bytes.data(), bytes.size());
        wxImage sharp;
        ASSERT_TRUE(sharp.LoadFile(stream, wxBITMAP_TYPE_PNG));
        const wxImage drawn = start.ConvertToImage();
        ASSERT_EQ(drawn.GetSize(), sharp.GetSize());
        EXPECT_EQ(0, memcmp(drawn.GetData(), sharp.GetData(), 84 * 84 * 3));
    }
}

TEST(WindowLayout, EditorButtonsAreWholeAndInsideTheWindow) {
    uitest::ShownLauncher launcher;
    auto* editor = new CPatchContextDefDlg(&*launcher, launcher->Profiles(), {});
    ExpectDialogButtonsWhole(*editor);
    editor->Destroy();
    Pump();
}

// Every field of the editor is drawn at a width that shows a path, inside the window and apart
// from the others, at whatever size the system's text has.
TEST(WindowLayout, EditorFieldsAreWideEnoughInsideTheWindowAndApart) {
    uitest::ShownLauncher launcher;
    auto* editor = new CPatchContextDefDlg(&*launcher, launcher->Profiles(), {});
    editor->Show();
    ASSERT_TRUE(PumpUntil([&] { return editor->IsShownOnScreen(); }));
    editor->list->SetSelection(0);
    editor->OnListSelection();
    Pump(std::chrono::milliseconds(300));
    const std::vector<wxWindow*> fields = {
        editor->list,         editor->nameEdit,     editor->repoEdit,     editor->patchPathEdit,
        editor->browseButton, editor->programEdit,  editor->autoPatchBox, editor->registryBox,
        editor->clientRadio,  editor->nothingRadio, editor->otherRadio};
    for (wxWindow* field : fields) {
        SCOPED_TRACE(field->GetId());
        EXPECT_TRUE(field->IsShownOnScreen());
        ExpectInsideClientArea(*field);
        EXPECT_GE(field->GetSize().y, field->GetBestSize().y);
        if (dynamic_cast<wxTextCtrl*>(field) != nullptr) {
            EXPECT_GE(field->GetSize().x, 24 * field->GetCharWidth());
        }
    }
    ExpectApart(fields);
    editor->Destroy();
    Pump();
}

TEST(WindowLayout, AboutButtonIsWholeAndInsideTheWindow) {
    uitest::ShownLauncher launcher;
    auto* about = new CAboutDlg(&*launcher);
    ExpectDialogButtonsWhole(*about, 1);
    about->Destroy();
    Pump();
}

TEST(WindowLayout, RepairButtonsAreWholeAndInsideTheWindow) {
    uitest::ShownLauncher launcher;
    auto* repair = new CRepairDlg(&*launcher, launcher.Temp() / "game", launcher.Repairs(),
                                  launcher.Platform());
    ExpectDialogButtonsWhole(*repair);
    repair->Destroy();
    Pump();
}

// ---------------------------------------------------------------- message boxes

// Picks the launcher's own folder, so the picker's check asks its question.
class LauncherFolderPicked : public WxPrompt {
public:
    using WxPrompt::WxPrompt;
    std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
        return CurrentDirectory();
    }
};

// The longest box of each kind, shown the way the launcher shows it, with a deep install folder:
// never wider than the launcher's window, every line inside the box.
TEST(WindowLayout, MessageBoxesAreNoWiderThanTheLauncher) {
    uitest::ShownLauncher launcher;
    const std::string deep =
        launcher.Temp() /
        "Spiele/Veldmoor Online/Installationen/Hauptwelt und Testwelt/eine_sehr_lange_"
        "ordnerbezeichnung_ohne_leerzeichen_die_nirgends_umbrechen_kann/game";
    std::filesystem::create_directories(deep);
    auto* repair = new CRepairDlg(&*launcher, deep, launcher.Repairs(), launcher.Platform());
    WxPrompt prompt(&*launcher);
    const std::function<void()> shows[] = {
        [&] { ReportTransferError(&prompt, PatchException::fromNumbers(0, 1, "", "")); },
        [&] {
            ShowMessageBox(&*launcher, ComposeRegistryWriteFailed(deep).text, "Fehler",
                           PromptButtons::Ok, PromptIcon::Error);
        },
        [&] {
            repair->rightsBox->SetValue(true);
            repair->OnBoxClicked(kIdRepairRights);
        },
        [&] {
            LauncherFolderPicked picked(&*launcher);
            BrowseForTargetFolder(picked, BrowseMode::MainDialog);
        },
    };
    const int launcherWidth = launcher->GetSize().x;
    for (const auto& show : shows) {
        uitest::ScriptedBoxes boxes;
        int width = 0;
        boxes.inspectBox = [&](wxDialog* box) {
            box->Show();
            PumpUntil([&] { return box->IsShownOnScreen(); });
            Pump(std::chrono::milliseconds(100));
            width = box->GetSize().x;
            std::vector<wxWindow*> children;
            CollectChildren(*box, children);
            for (wxWindow* child : children)
                ExpectInsideClientArea(*child);
        };
        boxes.Answer(wxID_CANCEL);
        boxes.Answer(wxID_CANCEL);
        show();
        ASSERT_FALSE(boxes.boxes.empty());
        SCOPED_TRACE(boxes.boxes[0].caption);
        EXPECT_GT(width, 0);
        EXPECT_LE(width, launcherWidth);
    }
    repair->Destroy();
    Pump();
}

// ---------------------------------------------------------------- legibility

double Contrast(const wxColour& a, const wxColour& b) {
    const double la = uitest::Luminance(a);
    const double lb = uitest::Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Height of the inked part of `text` drawn in `font`.
int InkHeight(const wxFont& font, const wxString& text) {
    wxBitmap canvas(200, 200);
    wxMemoryDC dc(canvas);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    dc.SetFont(font);
    dc.SetTextForeground(*wxBLACK);
    dc.DrawText(text, 10, 10);
    dc.SelectObject(wxNullBitmap);
    const wxImage image = canvas.ConvertToImage();
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (image.GetRed(x, y) < 128) {
                if (top < 0)
                    top = y;
                bottom = y;
                break;
            }
        }
    }
    return top < 0 ? 0 : bottom - top + 1;
}

// The lightest background pixel under a control: the text must stand out even there.
wxColour LightestBehind(const CLauncherDlg& dialog, const wxWindow& control) {
    const wxImage& background = dialog.BackgroundImage();
    const wxRect area = control.GetRect().Intersect(wxRect(background.GetSize()));
    wxColour lightest(0, 0, 0);
    for (int y = area.y; y < area.GetBottom(); ++y) {
        for (int x = area.x; x < area.GetRight(); ++x) {
            const wxColour pixel(background.GetRed(x, y), background.GetGreen(x, y),
                                 background.GetBlue(x, y));
            if (uitest::Luminance(pixel) > uitest::Luminance(lightest))
                lightest = pixel;
        }
    }
    return lightest;
}

TEST(Legibility, InformationTextsHaveLiningFiguresAReadableSizeAndContrast) {
    uitest::ShownLauncher launcher;
    launcher->EnterPatchingLayout();
    launcher->AppendStatusLine("Lade herunter: data/map0.mul");
    // 12.40MB of 29.52MB at 1.84MB/s, as the run reports them.
    launcher->RunView().Report(TransfersStarted{0, 30953963});
    launcher->RunView().Report(TransferProgressed{13002342, 30953963});
    launcher->RunView().Report(TransferRate{1929380});
    Pump();
    const wxWindow* texts[] = {launcher->status,       launcher->sizeText,
                               launcher->speedText,    launcher->progressText,
                               launcher->versionText,  launcher->repoPathText,
                               launcher->patchPathText};
    for (const wxWindow* text : texts) {
        SCOPED_TRACE(text->GetId());
        const wxFont font = text->GetFont();
        EXPECT_GE(font.GetFractionalPointSize(), 9.0);
        // Lining figures stand as tall as capitals; old-style ones shrink to the height of
        // small letters, so "map0" reads "mapo".
        EXPECT_GE(InkHeight(font, "0"), InkHeight(font, "o") * 5 / 4);
        EXPECT_GE(InkHeight(font, "1"), InkHeight(font, "x") * 5 / 4);
        // The whole height of a line fits.
        EXPECT_GE(text->GetSize().y, text->GetCharHeight());
        const wxColour behind = text == launcher->status ? text->GetBackgroundColour()
                                                         : LightestBehind(*launcher, *text);
        EXPECT_GE(Contrast(text->GetForegroundColour(), behind), 4.5);
    }
    // The log starts below the header of the patching layout.
    for (const wxWindow* header : {launcher->repoPathText, launcher->patchPathText,
                                   launcher->repoLabel, launcher->patchLabel}) {
        EXPECT_FALSE(header->GetRect().Intersects(launcher->status->GetRect())) << header->GetId();
    }
    // Scrolled to its end, the log's top line is whole, not cut in half at the log's edge.
    for (int line = 0; line < 30; ++line)
        launcher->AppendStatusLine("Lade herunter: data/map" + std::to_string(line) + ".mul");
    Pump(std::chrono::milliseconds(300));
    const wxTextCtrl& log = *launcher->status;
    for (int line = 0; line < 30; ++line) {
        const int top = log.PositionToCoords(log.XYToPosition(0, line)).y;
        EXPECT_FALSE(top < 0 && top + log.GetCharHeight() > 0) << line << " at " << top;
    }
    // The bar reads at a glance, not the toolkit's thin line.
    EXPECT_GE(launcher->progress->GetSize().y, SkinUnits().Pixels(8));
    EXPECT_TRUE(launcher->progressText->IsShown());
    EXPECT_EQ(launcher->progressText->GetLabel().utf8_str(), std::string("42 % · noch 10 s"));
}

// ---------------------------------------------------------------- other display scales

// Runs the checks above again in this test binary on the same display, with the text or the
// whole display scaled as a desktop scales them.
struct Scaling {
    const char* variable;
    const char* value;
};

class ScaledLayout : public ::testing::TestWithParam<Scaling> {};

TEST_P(ScaledLayout, Holds) {
    const testing::ScopedEnv scale(GetParam().variable, std::string(GetParam().value));
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const test::ProgramResult result =
        test::RunProgram(self, {"--gtest_filter=WindowLayout.*:Legibility.*"});
    EXPECT_EQ(result.exitCode, 0) << GetParam().variable << "=" << GetParam().value << "\n"
                                  << result.output;
}

INSTANTIATE_TEST_SUITE_P(TextAndDisplay, ScaledLayout,
                         ::testing::Values(Scaling{"GDK_DPI_SCALE", "1.25"},
                                           Scaling{"GDK_DPI_SCALE", "1.5"},
                                           Scaling{"GDK_DPI_SCALE", "2"},
                                           Scaling{"GDK_SCALE", "2"}));

}  // namespace
}  // namespace veldmoor
