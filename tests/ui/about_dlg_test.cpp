// The About box's texts.
#include <gtest/gtest.h>
#include <wx/stattext.h>

#include <ctime>

#include "tests/ui/ui_test_support.h"
#include "ui/about_dlg.h"
#include "ui/launcher_dlg.h"

namespace veldmoor {
namespace {

TEST(AboutDlg, ShowsTheVersionAndANoticeEndingWithThisYear) {
    auto* about = new CAboutDlg(nullptr);
    EXPECT_EQ(about->GetTitle(), "Info");
    auto* version = dynamic_cast<wxStaticText*>(about->FindWindow(kIdAboutVersion));
    auto* notice = dynamic_cast<wxStaticText*>(about->FindWindow(kIdAboutNotice));
    ASSERT_NE(version, nullptr);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(std::string(version->GetLabel().utf8_str()),
              "Launcher, Version " + LauncherVersionText().substr(1));
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    const std::string year = std::to_string(utc.tm_year + 1900);
    const std::string text(notice->GetLabel().utf8_str());
    ASSERT_GE(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 4), year);
    EXPECT_NE(about->FindWindow(wxID_OK), nullptr);
    about->Destroy();
    uitest::Pump();
}

}  // namespace
}  // namespace veldmoor
