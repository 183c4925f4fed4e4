#include "ui/menu_icons.h"

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

namespace veldmoor {

void ShowMenuIcons() {
#ifdef __WXGTK__
    if (GtkSettings* settings = gtk_settings_get_default())
        g_object_set(settings, "gtk-menu-images", TRUE, nullptr);
#endif
}

}  // namespace veldmoor
