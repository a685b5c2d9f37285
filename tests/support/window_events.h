// Events a person or a window manager would send a test's GTK window.
#pragma once

#include <gtk/gtk.h>

namespace veltrane::testing {

// Delivers a close request (as from a title-bar close button) to a shown window.
void SendCloseRequest(GtkWindow* window);

}  // namespace veltrane::testing
