#include <gtk/gtk.h>
#include <wx/checkbox.h>

#include <string>

#include "ui/check_box_gap.h"

namespace veldmoor {

// wx offers no spacing for the mark; a style rule on this one box's mark widens its margin.
void WidenCheckBoxGap(wxCheckBox& box, int pixels) {
    auto* widget = static_cast<GtkWidget*>(box.GetHandle());
    GtkCssProvider* css = gtk_css_provider_new();
    const std::string rule = "check { margin-right: " + std::to_string(pixels) + "px; }";
    gtk_css_provider_load_from_data(css, rule.c_str(), -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    box.InvalidateBestSize();
}

}  // namespace veldmoor
