// Pictures, shapes and the picture button's states, on real windows.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include "tests/ui/ui_test_support.h"
#include "ui/resources.h"
#include "ui/skin.h"
#include "ui/tool_commands.h"

namespace veldmoor {
namespace {

TEST(SkinPictures, EveryPictureTheWindowNamesIsBuiltInAndDecodes) {
    const int ids[] = {128, 131, 147, 148, 149, 150, 151, 152, 153, 154, 155,
                       156, 158, 159, 162, 163, 164, 165, 166, 167, 168, 170,
                       171, 172, 174, 175, 176, 177, 179, 180, 181, 182, 183};
    for (const int id : ids) {
        wxImage image;
        LoadPngResource(id, image, wxSize(10, 10));
        ASSERT_TRUE(image.IsOk()) << id;
        EXPECT_TRUE(image.HasAlpha()) << id;
        EXPECT_EQ(image.GetSize(), wxSize(10, 10)) << id;
    }
    wxImage missing;
    LoadPngResource(146, missing);
    EXPECT_FALSE(missing.IsOk());
    EXPECT_FALSE(FontResource(185).empty());
    EXPECT_FALSE(FontResource(186).empty());
    EXPECT_TRUE(FontResource(187).empty());
}

TEST(SkinPictures, WithoutASizePicturesFollowTheTextScale) {
    wxImage image;
    LoadPngResource(150, image);
    ASSERT_TRUE(image.IsOk());
    // The start button is drawn for 96 dpi at 42 pixels.
    EXPECT_EQ(image.GetWidth(), SkinUnits().Pixels(42));
}

TEST(SkinRegion, TransparentPixelsBecomeHolesAndAnOpaquePictureGivesTheRectangle) {
    wxImage picture(4, 3);
    picture.InitAlpha();
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            picture.SetAlpha(x, y, 255);
    wxRegion full = RegionFromAlpha(wxSize(4, 3), picture);
    EXPECT_EQ(full.GetBox(), wxRect(0, 0, 4, 3));
    EXPECT_EQ(full.Contains(0, 0), wxInRegion);

    picture.SetAlpha(0, 0, 0);
    picture.SetAlpha(3, 2, 0);
    picture.SetAlpha(1, 1, 1);  // nearly transparent still belongs to the window
    const wxRegion shaped = RegionFromAlpha(wxSize(4, 3), picture);
    EXPECT_EQ(shaped.Contains(0, 0), wxOutRegion);
    EXPECT_EQ(shaped.Contains(3, 2), wxOutRegion);
    EXPECT_EQ(shaped.Contains(1, 1), wxInRegion);
    EXPECT_EQ(shaped.Contains(1, 0), wxInRegion);
    // A window larger than its picture keeps the part the picture does not cover.
    EXPECT_EQ(RegionFromAlpha(wxSize(6, 3), picture).Contains(5, 0), wxInRegion);
}

class PictureButtonTest : public ::testing::Test {
protected:
    PictureButtonTest() : frame_(new wxFrame(nullptr, wxID_ANY, "Knopf")) {
        button_ = new CPictureButton(150, 155, 154, 159);
        // A frame stretches a single child over its whole area: the button sits on a panel.
        auto* panel = new wxPanel(frame_);
        button_->Create(panel, 1018, wxPoint(10, 10), nullptr);
        panel->Bind(wxEVT_BUTTON,
                    [this](wxCommandEvent& event) { clicks_.push_back(event.GetId()); });
        frame_->Show();
        uitest::Pump();
    }
    ~PictureButtonTest() override {
        frame_->Destroy();
        uitest::Pump();
    }

    void Mouse(wxEventType type, wxPoint at) {
        wxMouseEvent event(type);
        event.SetPosition(at);
        event.SetEventObject(button_);
        if (type == wxEVT_LEFT_DOWN || type == wxEVT_MOTION)
            event.SetLeftDown(type == wxEVT_LEFT_DOWN);
        button_->GetEventHandler()->ProcessEvent(event);
    }

    wxFrame* frame_;
    CPictureButton* button_ = nullptr;
    std::vector<int> clicks_;
};

TEST_F(PictureButtonTest, TakesThePictureSizeAndClicksOnlyWhereItIsOpaque) {
    wxImage pressed;
    LoadPngResource(155, pressed);
    EXPECT_EQ(button_->GetSize(), pressed.GetSize());

    const wxPoint centre(button_->GetSize().x / 2, button_->GetSize().y / 2);
    Mouse(wxEVT_LEFT_DOWN, {0, 0});  // a transparent corner of the round button
    Mouse(wxEVT_LEFT_UP, {0, 0});
    EXPECT_TRUE(clicks_.empty());

    Mouse(wxEVT_LEFT_DOWN, centre);
    EXPECT_TRUE(button_->IsPressed());
    Mouse(wxEVT_LEFT_UP, centre);
    EXPECT_FALSE(button_->IsPressed());
    EXPECT_EQ(clicks_, std::vector<int>{1018});
}

TEST_F(PictureButtonTest, HoverShowsTheHoverPictureOnlyWhileEnabled) {
    wxImage normal, hover, disabled;
    LoadPngResource(150, normal);
    LoadPngResource(154, hover);
    LoadPngResource(159, disabled);
    const wxPoint centre(button_->GetSize().x / 2, button_->GetSize().y / 2);

    Mouse(wxEVT_ENTER_WINDOW, centre);
    EXPECT_TRUE(button_->IsHovered());
    EXPECT_EQ(button_->CurrentImage().GetData()[0], hover.GetData()[0]);
    EXPECT_TRUE(memcmp(button_->CurrentImage().GetData(), hover.GetData(),
                       hover.GetWidth() * hover.GetHeight() * 3) == 0);
    Mouse(wxEVT_LEAVE_WINDOW, {-5, -5});
    EXPECT_FALSE(button_->IsHovered());
    EXPECT_TRUE(memcmp(button_->CurrentImage().GetData(), normal.GetData(),
                       normal.GetWidth() * normal.GetHeight() * 3) == 0);

    button_->Disable();
    EXPECT_TRUE(memcmp(button_->CurrentImage().GetData(), disabled.GetData(),
                       disabled.GetWidth() * disabled.GetHeight() * 3) == 0);
    Mouse(wxEVT_ENTER_WINDOW, centre);
    EXPECT_FALSE(button_->IsHovered());
    Mouse(wxEVT_LEFT_DOWN, centre);
    Mouse(wxEVT_LEFT_UP, centre);
    EXPECT_TRUE(clicks_.empty());
}

TEST(ToolsMenu, HoldsTheFiveCommandsWithTheirIconsInOrder) {
    int count = 0;
    const MenuEntry* entries = ToolsMenuEntries(count);
    ASSERT_EQ(count, 6);
    EXPECT_EQ(entries[0].command, kCmdStatusMap);
    EXPECT_STREQ(entries[0].text, "Statuskarte");
    EXPECT_EQ(entries[1].command, kCmdLoopTool);
    EXPECT_EQ(entries[2].command, 0);
    EXPECT_EQ(entries[3].command, kCmdOpenLogs);
    EXPECT_STREQ(entries[3].text, "Logs-Ordner öffnen");
    EXPECT_EQ(entries[4].command, kCmdLogSweeper);
    EXPECT_EQ(entries[5].command, kCmdOpenScreenshots);
    EXPECT_EQ(GetMenuIcon(kCmdStatusMap), 179);
    EXPECT_EQ(GetMenuIcon(kCmdOpenScreenshots), 180);
    EXPECT_EQ(GetMenuIcon(kCmdOpenLogs), 181);
    EXPECT_EQ(GetMenuIcon(kCmdLoopTool), 182);
    EXPECT_EQ(GetMenuIcon(kCmdLogSweeper), 183);
    EXPECT_FALSE(GetMenuIcon(0).has_value());
    EXPECT_FALSE(GetMenuIcon(1018).has_value());
    // The toolkit refuses menu item ids from 0x7FFF on; the items' ids map back to the commands.
    for (int i = 0; i < count; ++i) {
        if (entries[i].command == 0)
            continue;
        EXPECT_LT(MenuItemId(entries[i].command), 0x7FFF);
        EXPECT_GT(MenuItemId(entries[i].command), 0);
        EXPECT_EQ(CommandOfMenuItem(MenuItemId(entries[i].command)), entries[i].command);
    }
}

}  // namespace
}  // namespace veldmoor
