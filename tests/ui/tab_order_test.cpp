// Tab through each window as a person without a mouse does (keys pressed through the X server
// under a window manager): every control that takes the keyboard is visited once, in the order
// the window is read (rows from the top, each from the left), and shows that it has the focus.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "tests/ui/launcher_fixture.h"
#include "tests/ui/window_manager.h"
#include "ui/profile_editor_dlg.h"
#include "ui/repair_dlg.h"

namespace veldmoor {
namespace {

using uitest::PumpUntil;

bool SamePicture(const wxImage& a, const wxImage& b) {
    return a.IsOk() && b.IsOk() && a.GetSize() == b.GetSize() &&
           std::memcmp(a.GetData(), b.GetData(),
                       static_cast<std::size_t>(a.GetWidth()) * a.GetHeight() * 3) == 0;
}

// The window the keyboard is in and its stops in reading order.
struct Opened {
    wxTopLevelWindow* window;
    std::vector<wxWindow*> stops;
};

struct TabCase {
    const char* name;
    std::function<Opened(uitest::ShownLauncher&)> open;
};

const TabCase kWindows[] = {
    {"main window",
     [](uitest::ShownLauncher& launcher) {
         CLauncherDlg& d = *launcher;
         return Opened{&d,
                       {d.minimiseButton, d.closeButton, d.editButton, d.profileList, d.autoStart,
                        d.moreButton, d.repairButton, d.startButton}};
     }},
    {"profile editor",
     [](uitest::ShownLauncher& launcher) {
         auto* e = new CPatchContextDefDlg(&*launcher, launcher->Profiles(), {});
         e->Show();
         e->list->SetSelection(0);
         e->OnListSelection();
         // A radio group is one stop: its chosen button ("Nichts tun" for this profile).
         return Opened{e,
                       {e->list, e->nameEdit, e->repoEdit, e->patchPathEdit, e->browseButton,
                        e->autoPatchBox, e->registryBox, e->nothingRadio, e->programEdit,
                        e->deleteButton, e->saveNewButton, e->closeButton}};
     }},
    {"repair dialog",
     [](uitest::ShownLauncher& launcher) {
         auto* r = new CRepairDlg(&*launcher, launcher.Temp() / "game", launcher.Repairs(),
                                  launcher.Platform());
         r->Show();
         return Opened{r,
                       {r->registryBox, r->rightsBox, r->settingsBox, r->verifyBox,
                        r->FindWindow(wxID_CANCEL)}};
     }},
};

TEST(TabOrder, FollowsTheReadingOrderAndEveryStopShowsItsFocus) {
    ASSERT_TRUE(uitest::EnsureWindowManager());
    for (const TabCase& tabCase : kWindows) {
        SCOPED_TRACE(tabCase.name);
        uitest::ShownLauncher launcher;
        const Opened opened = tabCase.open(launcher);
        ASSERT_TRUE(PumpUntil([&] { return opened.window->IsShownOnScreen(); }));
        ASSERT_TRUE(uitest::Activate(*opened.window));
        const std::vector<wxWindow*>& stops = opened.stops;
        // From the last stop round to it again; the toolkit shows focus marks only once the
        // keyboard was used, so the first picture is taken after a Tab.
        stops.back()->SetFocus();
        ASSERT_TRUE(PumpUntil([&] { return uitest::HasKeyboardFocus(*stops.back()); }));
        wxImage focused;
        for (std::size_t i = 0; i <= stops.size(); ++i) {
            wxWindow* previous = stops[(i + stops.size() - 1) % stops.size()];
            wxWindow* expected = stops[i % stops.size()];
            ASSERT_TRUE(uitest::PressKeys("Tab"));
            EXPECT_TRUE(PumpUntil([&] { return uitest::HasKeyboardFocus(*expected); },
                                  std::chrono::seconds(5)))
                << "after " << previous->GetId() << " Tab did not go to " << expected->GetId();
            uitest::Pump(std::chrono::milliseconds(200));
            // The stop just left looks different now: it showed its focus.
            if (focused.IsOk()) {
                EXPECT_FALSE(SamePicture(
                    focused, uitest::CaptureFromScreen(*previous, launcher.Temp().path())))
                    << "no focus mark on " << previous->GetId();
            }
            focused = uitest::CaptureFromScreen(*expected, launcher.Temp().path());
        }
        if (opened.window != &*launcher)
            opened.window->Destroy();
        uitest::Pump();
    }
}

}  // namespace
}  // namespace veldmoor
