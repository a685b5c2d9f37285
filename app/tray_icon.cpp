#include "app/tray_icon.h"

#include <cairo.h>

namespace veltrane {

// GtkStatusIcon is deprecated in GTK 3 but remains the XEmbed tray icon that
// desktop trays and headless sessions understand.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

namespace {

gboolean OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
  if (event->type == GDK_2BUTTON_PRESS) static_cast<TTrayIcon*>(data)->DoDblClick();
  return FALSE;
}

gboolean OnButtonRelease(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
  static_cast<TTrayIcon*>(data)->DoMouseUp(event->button);
  return FALSE;
}

}  // namespace

GdkPixbuf* DrawTrayImage(int index) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 16, 16);
  cairo_t* cr = cairo_create(surface);
  const bool running = index == 1;
  // Envelope body.
  cairo_rectangle(cr, 1.5, 3.5, 13, 9);
  if (running)
    cairo_set_source_rgb(cr, 0.30, 0.70, 0.30);
  else
    cairo_set_source_rgb(cr, 0.80, 0.80, 0.80);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  // Flap.
  cairo_move_to(cr, 1.5, 3.5);
  cairo_line_to(cr, 8, 9);
  cairo_line_to(cr, 14.5, 3.5);
  cairo_stroke(cr);
  if (running) {
    // A small arrow leaving the envelope.
    cairo_set_source_rgb(cr, 0.85, 0.10, 0.10);
    cairo_move_to(cr, 9, 14);
    cairo_line_to(cr, 15, 14);
    cairo_line_to(cr, 13, 12);
    cairo_move_to(cr, 15, 14);
    cairo_line_to(cr, 13, 16);
    cairo_stroke(cr);
  }
  cairo_destroy(cr);
  GdkPixbuf* image = gdk_pixbuf_get_from_surface(surface, 0, 0, 16, 16);
  cairo_surface_destroy(surface);
  return image;
}

TTrayIcon::TTrayIcon(GtkWindow* mainWindow, GtkMenu* menu) : mainWindow_(mainWindow), menu_(menu) {
  images_[0] = DrawTrayImage(0);
  images_[1] = DrawTrayImage(1);
  icon_ = gtk_status_icon_new_from_pixbuf(images_[0]);
  gtk_status_icon_set_visible(icon_, FALSE);
  g_signal_connect(icon_, "button-press-event", G_CALLBACK(OnButtonPress), this);
  g_signal_connect(icon_, "button-release-event", G_CALLBACK(OnButtonRelease), this);
}

TTrayIcon::~TTrayIcon() {
  // The icon leaves the tray as the program ends.
  g_signal_handlers_disconnect_by_data(icon_, this);
  gtk_status_icon_set_visible(icon_, FALSE);
  g_object_unref(icon_);
  g_object_unref(images_[0]);
  g_object_unref(images_[1]);
}

void TTrayIcon::SetHint(const std::string& text) {
  if (text == hint_ || text.size() > kMaxHint) return;
  hint_ = text;
  gtk_status_icon_set_tooltip_text(icon_, hint_.empty() ? nullptr : hint_.c_str());
}

void TTrayIcon::SetIconIndex(int index) {
  if (index < 0 || index > 1) return;
  iconIndex_ = index;
  gtk_status_icon_set_from_pixbuf(icon_, images_[index]);
}

void TTrayIcon::SetVisible(bool visible) {
  visible_ = visible;
  gtk_status_icon_set_visible(icon_, visible);
}

void TTrayIcon::Minimize() {
  // Without a window manager iconifying does nothing, so the window is hidden
  // outright; its taskbar entry goes with it.
  gtk_window_set_skip_taskbar_hint(mainWindow_, TRUE);
  gtk_widget_hide(GTK_WIDGET(mainWindow_));
}

void TTrayIcon::Restore() {
  gtk_window_set_skip_taskbar_hint(mainWindow_, FALSE);
  gtk_widget_show(GTK_WIDGET(mainWindow_));
  gtk_window_deiconify(mainWindow_);
  gtk_window_present(mainWindow_);
  if (OnRestore) OnRestore();
}

void TTrayIcon::DoMouseUp(guint button) {
  if (button == GDK_BUTTON_SECONDARY) ShowMenu();
}

void TTrayIcon::ShowMenu() {
  if (gtk_widget_get_visible(GTK_WIDGET(mainWindow_))) gtk_window_present(mainWindow_);
  gtk_menu_popup_at_pointer(menu_, nullptr);
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace veltrane
