#include "platform/gtk_message_box.h"

#include <gtk/gtk.h>

#include <cstdio>

namespace veltrane {

void GtkMessageBox::ShowMessage(const std::string& text) {
  if (!gdk_display_get_default()) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, kind_ == Kind::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
      GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), "Veltrane");
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
}

}  // namespace veltrane
