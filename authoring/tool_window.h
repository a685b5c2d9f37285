// ToolWindow: the service's browser window as the tools show a page in it: a
// top-level window of its size (404 x 344), off every screen (left -10000),
// holding the control's widget, shown from construction to destruction.
// User-interface thread only.
#pragma once

#include <gtk/gtk.h>

namespace veltrane::authoring {

class ToolWindow {
 public:
  explicit ToolWindow(GtkWidget* content) : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
    gtk_window_set_default_size(GTK_WINDOW(window_), 404, 344);
    gtk_window_move(GTK_WINDOW(window_), -10000, 209);
    gtk_container_add(GTK_CONTAINER(window_), content);
    gtk_widget_show_all(window_);
  }
  ~ToolWindow() { gtk_widget_destroy(window_); }
  ToolWindow(const ToolWindow&) = delete;
  ToolWindow& operator=(const ToolWindow&) = delete;

 private:
  GtkWidget* window_;
};

}  // namespace veltrane::authoring
