#include <gtk/gtk.h>

#include "ui/menu_icons.h"

namespace veldmoor {

void ShowMenuIcons() {
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-menu-images", TRUE, nullptr);
}

}  // namespace veldmoor
