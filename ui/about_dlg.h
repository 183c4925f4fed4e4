// CAboutDlg: the small "Info" box with the program picture, the version and the maker's line.
#pragma once

#include <wx/dialog.h>

#include <string>

namespace veldmoor {

inline constexpr int kIdAboutVersion = 1042;
inline constexpr int kIdAboutNotice = 1043;
inline constexpr int kIdAboutLink = 1029;

class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};

// "Launcher, Version 1.0.0".
std::string AboutVersionLine();
// The maker's notice, ending with the current year (UTC) in four digits.
std::string AboutNoticeLine();

}  // namespace veldmoor
