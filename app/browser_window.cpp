#include "app/browser_window.h"

#include <utility>

#include "platform/glib_handles.h"

namespace veltrane {

TForm2::TForm2(WebKitBrowserOptions browser)
    : browser_(std::make_unique<WebKitBrowser>(std::move(browser))) {
  BuildWindow();
}

TForm2::~TForm2() {
  if (window_) {
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_widget_destroy(window_);
  }
}

void TForm2::BuildWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), "View ");
  gtk_window_set_default_size(GTK_WINDOW(window_), 404, 344);
  gtk_window_move(GTK_WINDOW(window_), 22, 209);
  g_signal_connect(window_, "delete-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer self) -> gboolean {
                     return !static_cast<TForm2*>(self)->FormCloseQuery();
                   }),
                   this);

  GtkWidget* layout = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window_), layout);

  GtkWidget* panel1 = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(panel1), GTK_SHADOW_IN);
  gtk_box_pack_start(GTK_BOX(layout), panel1, TRUE, TRUE, 0);

  GtkWidget* overlay = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(panel1), overlay);
  gtk_container_add(GTK_CONTAINER(overlay), browser_->Widget());

  // Panel2: yellow, 185 x 25, 8 pixels below the top, flush right.
  panel2_ = gtk_event_box_new();
  GtkWidget* caption = gtk_label_new("Loading ...");
  gtk_container_add(GTK_CONTAINER(panel2_), caption);
  gtk_widget_set_size_request(panel2_, 185, 25);
  gtk_widget_set_halign(panel2_, GTK_ALIGN_END);
  gtk_widget_set_valign(panel2_, GTK_ALIGN_START);
  gtk_widget_set_margin_top(panel2_, 8);
  const GObjectPtr<GtkCssProvider> css(gtk_css_provider_new());
  gtk_css_provider_load_from_data(css.get(), "* { background-color: #ffff00; }", -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(panel2_),
                                 GTK_STYLE_PROVIDER(css.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), panel2_);
  gtk_widget_set_no_show_all(panel2_, TRUE);
  gtk_widget_show(caption);

  GtkWidget* statusBar1 = gtk_statusbar_new();
  gtk_box_pack_end(GTK_BOX(layout), statusBar1, FALSE, FALSE, 0);
}

void TForm2::ShowOffScreen() {
  gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE);
  gtk_window_move(GTK_WINDOW(window_), kOffScreenLeft, 209);
  gtk_widget_show_all(window_);
  // Some window managers keep windows on screen; ask again once it is mapped.
  gtk_window_move(GTK_WINDOW(window_), kOffScreenLeft, 209);
}

void TForm2::MoveToLeft(int left) {
  int oldLeft = 0, top = 0;
  gtk_window_get_position(GTK_WINDOW(window_), &oldLeft, &top);
  gtk_window_move(GTK_WINDOW(window_), left, top);
  gtk_window_present(GTK_WINDOW(window_));
}

void TForm2::Show() { gtk_widget_show(panel2_); }
void TForm2::Hide() { gtk_widget_hide(panel2_); }
bool TForm2::LoadingShown() const { return gtk_widget_get_visible(panel2_); }

bool TForm2::FormCloseQuery() {
  int left = 0, top = 0;
  gtk_window_get_position(GTK_WINDOW(window_), &left, &top);
  gtk_window_move(GTK_WINDOW(window_), kOffScreenLeft, top);
  return false;
}

}  // namespace veltrane
