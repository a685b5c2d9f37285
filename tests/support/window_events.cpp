#include "tests/support/window_events.h"

namespace veltrane::testing {

void SendCloseRequest(GtkWindow* window) {
  GdkEvent* event = gdk_event_new(GDK_DELETE);
  // The event owns a reference to its window and drops it when freed.
  event->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(window))));
  gtk_main_do_event(event);
  gdk_event_free(event);
}

}  // namespace veltrane::testing
