#include "platform/gtk_message_box.h"

#include <gtk/gtk.h>

#include <cstdio>

namespace veltrane {

void GtkMessageBox::ShowMessage(const std::string& text) {
  if (!gdk_display_get_default()) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return;
  }
  // The text is on standard error too, for the journal of a headless service.
  std::fprintf(stderr, "%s\n", text.c_str());
  GtkWidget* dialog = gtk_message_dialog_new(
      nullptr, GTK_DIALOG_MODAL, kind_ == Kind::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
      GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), "Veltrane");
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  struct Closer {
    GtkWidget* dialog;
    bool fired = false;
  } closer{dialog};
  const guint source = g_timeout_add_seconds(
      closeAfterSeconds_,
      +[](gpointer data) -> gboolean {
        auto* self = static_cast<Closer*>(data);
        self->fired = true;
        gtk_dialog_response(GTK_DIALOG(self->dialog), GTK_RESPONSE_DELETE_EVENT);
        return G_SOURCE_REMOVE;
      },
      &closer);
  gtk_dialog_run(GTK_DIALOG(dialog));
  if (!closer.fired) g_source_remove(source);
  gtk_widget_destroy(dialog);
}

}  // namespace veltrane
