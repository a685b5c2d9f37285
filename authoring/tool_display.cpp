#include "authoring/tool_display.h"

#include <gtk/gtk.h>

#include <cstdlib>

#include "browser/engine_environment.h"

namespace veltrane::authoring {

ToolDisplay::ToolDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    server_.emplace();
    if (!server_->Started()) {
      error_ = server_->Error();
      return;
    }
  }
  PrepareEngineEnvironment();
  // The service's browser window needs X11 (it stands off screen); so do we.
  setenv("GDK_BACKEND", "x11", 1);
  if (!gtk_init_check(nullptr, nullptr)) error_ = "cannot open the X display";
}

ToolDisplay::~ToolDisplay() {
  if (!server_) return;
  // GTK must let go of the display before its server goes, or its next X
  // call would end the process.
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_close(display);
  server_.reset();
}

}  // namespace veltrane::authoring
