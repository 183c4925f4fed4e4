// What dialogs and message boxes leave behind on the main window, under a window manager: where
// the editor and the repair dialog open, the opening button's tooltip and hover picture, the look
// of a disabled check box, and the message boxes' icon and button order.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/uiaction.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "tests/ui/launcher_fixture.h"
#include "ui/profile_editor_dlg.h"
#include "ui/repair_dlg.h"
#include "ui/wx_prompt.h"

namespace veldmoor {
namespace {

using uitest::Pump;
using uitest::PumpUntil;

void SendMouse(CPictureButton& button, wxEventType type, const wxPoint& at) {
    wxMouseEvent event(type);
    event.SetPosition(at);
    event.SetEventObject(&button);
    event.SetId(button.GetId());
    if (type == wxEVT_LEFT_DOWN)
        event.SetLeftDown(true);
    button.GetEventHandler()->ProcessEvent(event);
}

struct Opened {
    bool seen = false;
    wxRect onScreen;
    bool hadToolTip = true;
};

// Clicks `button` with the pointer resting elsewhere, lets the dialog it opens appear and be
// placed by the window manager, notes where it is and whether the button kept its tooltip, and
// closes it.
template <typename Dialog>
Opened ClickAndWatch(CPictureButton& button) {
    wxUIActionSimulator pointer;
    pointer.MouseMove(2, 2);
    PumpUntil([] { return wxGetMousePosition() == wxPoint(2, 2); });
    Opened opened;
    uitest::ScriptedBoxes boxes;
    boxes.handle = [&](wxDialog* dialog) {
        if (dynamic_cast<Dialog*>(dialog) == nullptr)
            return static_cast<int>(wxID_CANCEL);
        dialog->CallAfter([&opened, &button, dialog] {
            PumpUntil([dialog] { return dialog->IsShownOnScreen(); });
            Pump(std::chrono::milliseconds(400));
            opened.seen = true;
            opened.onScreen = dialog->GetScreenRect();
            opened.hadToolTip = button.GetToolTip() != nullptr;
            dialog->EndModal(wxID_CANCEL);
        });
        return static_cast<int>(wxID_NONE);
    };
    const wxPoint middle(button.GetSize().x / 2, button.GetSize().y / 2);
    SendMouse(button, wxEVT_ENTER_WINDOW, middle);
    EXPECT_TRUE(button.IsHovered());
    SendMouse(button, wxEVT_LEFT_DOWN, middle);
    SendMouse(button, wxEVT_LEFT_UP, middle);
    return opened;
}

void ExpectCentredOn(const wxRect& dialog, const wxRect& owner) {
    EXPECT_LE(std::abs(dialog.GetLeft() + dialog.GetWidth() / 2 -
                       (owner.GetLeft() + owner.GetWidth() / 2)),
              8)
        << "dialog at " << dialog.x << "," << dialog.y << ", launcher at " << owner.x << ","
        << owner.y;
    EXPECT_LE(std::abs(dialog.GetTop() + dialog.GetHeight() / 2 -
                       (owner.GetTop() + owner.GetHeight() / 2)),
              40)
        << "dialog at " << dialog.x << "," << dialog.y << ", launcher at " << owner.x << ","
        << owner.y;
}

TEST(DialogLeftovers, EditorOpensCentredWithoutTheTooltipAndLeavesNoHoverBehind) {
    uitest::ShownLauncher launcher;
    launcher->Move(120, 90);
    Pump(std::chrono::milliseconds(200));
    CPictureButton& edit = *launcher->editButton;
    const Opened opened = ClickAndWatch<CPatchContextDefDlg>(edit);
    ASSERT_TRUE(opened.seen);
    ExpectCentredOn(opened.onScreen, launcher->GetScreenRect());
    EXPECT_FALSE(opened.hadToolTip);
    EXPECT_NE(edit.GetToolTip(), nullptr);
    EXPECT_FALSE(edit.IsHovered());
}

TEST(DialogLeftovers, RepairDialogOpensCentredWithoutTheTooltipAndLeavesNoHoverBehind) {
    uitest::ShownLauncher launcher;
    launcher->Move(120, 90);
    Pump(std::chrono::milliseconds(200));
    CPictureButton& repair = *launcher->repairButton;
    ASSERT_TRUE(repair.IsEnabled());
    const Opened opened = ClickAndWatch<CRepairDlg>(repair);
    ASSERT_TRUE(opened.seen);
    ExpectCentredOn(opened.onScreen, launcher->GetScreenRect());
    EXPECT_FALSE(opened.hadToolTip);
    EXPECT_NE(repair.GetToolTip(), nullptr);
    EXPECT_FALSE(repair.IsHovered());
}

TEST(DialogLeftovers, AutoStartLooksDisabledWhilePatching) {
    uitest::ShownLauncher launcher;
    wxCheckBox& autoStart = *launcher->autoStart;
    ASSERT_TRUE(autoStart.IsEnabled());
    const wxColour usable = autoStart.GetForegroundColour();
    launcher->EnterPatchingLayout();
    EXPECT_FALSE(autoStart.IsEnabled());
    EXPECT_LT(uitest::Luminance(autoStart.GetForegroundColour()), uitest::Luminance(usable) / 2);
    launcher->LeavePatchingLayout();
    EXPECT_TRUE(autoStart.IsEnabled());
    EXPECT_EQ(autoStart.GetForegroundColour(), usable);
}

std::vector<std::string> ButtonsLeftToRight(wxDialog& box) {
    std::vector<wxButton*> buttons;
    for (wxWindow* child : box.GetChildren()) {
        if (auto* button = dynamic_cast<wxButton*>(child))
            buttons.push_back(button);
    }
    std::sort(buttons.begin(), buttons.end(),
              [](wxButton* a, wxButton* b) { return a->GetPosition().x < b->GetPosition().x; });
    std::vector<std::string> labels;
    for (wxButton* button : buttons)
        labels.emplace_back(button->GetLabel().utf8_str());
    return labels;
}

bool ShowsAnIcon(wxDialog& box) {
    for (wxWindow* child : box.GetChildren()) {
        if (auto* icon = dynamic_cast<wxStaticBitmap*>(child))
            return icon->GetBitmap().IsOk() && icon->GetSize().x >= 16;
    }
    return false;
}

TEST(MessageBoxes, ShowTheirIconAndThePlatformsButtonOrder) {
    uitest::ShownLauncher launcher;
    uitest::ScriptedBoxes boxes;
    std::vector<std::vector<std::string>> orders;
    std::vector<bool> icons;
    boxes.inspectBox = [&](wxDialog* box) {
        orders.push_back(ButtonsLeftToRight(*box));
        icons.push_back(ShowsAnIcon(*box));
    };
    boxes.Answer(wxID_NO);
    boxes.Answer(wxID_OK);
    boxes.Answer(wxID_YES);
    EXPECT_EQ(
        launcher->ShowMessage("Sollen deine Änderungen gespeichert werden?", "Änderungen speichern",
                              PromptButtons::YesNoCancel, PromptIcon::Information),
        PromptAnswer::No);
    EXPECT_EQ(
        launcher->ShowMessage("Achtung", "Achtung", PromptButtons::OkCancel, PromptIcon::Warning),
        PromptAnswer::Ok);
    EXPECT_EQ(
        launcher->ShowMessage("Fehler", "Fehler", PromptButtons::RetryCancel, PromptIcon::Error),
        PromptAnswer::Retry);
    ASSERT_EQ(orders.size(), 3u);
    EXPECT_EQ(orders[0], (std::vector<std::string>{"Ja", "Nein", "Abbrechen"}));
    EXPECT_EQ(orders[1], (std::vector<std::string>{"OK", "Abbrechen"}));
    EXPECT_EQ(orders[2], (std::vector<std::string>{"Wiederholen", "Abbrechen"}));
    EXPECT_EQ(icons, (std::vector<bool>{true, true, true}));
}

}  // namespace
}  // namespace veldmoor
