// Menus show the icons of their items. GTK 3 hides them unless its gtk-menu-images setting is
// on, which it is not by default, so the tools menu showed only its texts.
#pragma once

namespace veldmoor {

// Turns the toolkit's menu icons on for this process; safe to call more than once.
void ShowMenuIcons();

}  // namespace veldmoor
