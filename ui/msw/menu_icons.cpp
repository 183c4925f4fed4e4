#include "ui/menu_icons.h"

namespace veldmoor {

// Windows menus show their items' pictures without being asked.
void ShowMenuIcons() {}

}  // namespace veldmoor
