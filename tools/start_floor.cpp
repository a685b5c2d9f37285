// veltrane-start-floor URL: the least a WebKitGTK program does before its
// first request. It starts GTK as the service does, puts a web view with the
// default context in a window and loads URL, then runs until it is killed.
// The benchmark times it beside the service: what the engine's start costs
// without the service's own.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>

#include "browser/engine_environment.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: veltrane-start-floor URL\n");
    return 2;
  }
  veltrane::PrepareEngineEnvironment();
  setenv("GDK_BACKEND", "x11", 1);
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "veltrane-start-floor: cannot open the display\n");
    return 1;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* view = webkit_web_view_new();
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_main();
  return 0;
}
