#include "app/tray_icon.h"

#include <cairo.h>
#include <libayatana-appindicator/app-indicator.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

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

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kImageNames[2] = {"veltrane-tray-idle", "veltrane-tray-running"};

// An AppIndicator that makes no icon of its own when no host is there: the
// tray's GtkStatusIcon, with its double click and right-button menu, stands in.
struct TrayIndicator {
  AppIndicator parent;
};
struct TrayIndicatorClass {
  AppIndicatorClass parent_class;
};
G_DEFINE_TYPE(TrayIndicator, tray_indicator, APP_INDICATOR_TYPE)

// The indicator calls these when it finds no host and when one appears after
// all; the tray item behind it follows.
constexpr const char* kItemKey = "veltrane-tray-item";
void HostFound(AppIndicator* indicator, bool found);
GtkStatusIcon* NoFallback(AppIndicator* indicator) {
  HostFound(indicator, false);
  return nullptr;
}
void NoUnfallback(AppIndicator* indicator, GtkStatusIcon*) { HostFound(indicator, true); }

void tray_indicator_class_init(TrayIndicatorClass* klass) {
  APP_INDICATOR_CLASS(klass)->fallback = NoFallback;
  APP_INDICATOR_CLASS(klass)->unfallback = NoUnfallback;
}

void tray_indicator_init(TrayIndicator*) {}

// The session bus, when one is configured. GIO would otherwise launch a bus of
// its own for a process without one (a service under systemd), which no host
// ever watches.
GObjectPtr<GDBusConnection> SessionBusIfConfigured() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  const bool configured = (address && *address) ||
                          (runtime && *runtime &&
                           std::filesystem::exists(std::filesystem::path(runtime) / "bus", error));
  return GObjectPtr<GDBusConnection>(
      configured ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr) : nullptr);
}

}  // namespace

// The StatusNotifierItem side of the tray: the indicator, the folder its two
// images are written to (hosts load icons by name from a path), and what the
// bus says about a host. `changed` runs whenever Hosted() may have changed.
class TrayNotifierItem {
 public:
  TrayNotifierItem(GObjectPtr<GDBusConnection> bus, const GObjectPtr<GdkPixbuf> images[2],
                   GtkMenu* menu, std::function<void()> changed)
      : bus_(std::move(bus)), cancellable_(g_cancellable_new()), changed_(std::move(changed)) {
    WriteImages(images);
    indicator_.reset(APP_INDICATOR(
        g_object_new(tray_indicator_get_type(), "id", "veltrane", "category", "ApplicationStatus",
                     "icon-theme-path", folder_.c_str(), "icon-name", kImageNames[0], nullptr)));
    g_object_set_data(G_OBJECT(indicator_.get()), kItemKey, this);
    app_indicator_set_menu(indicator_.get(), menu);
    g_signal_connect(indicator_.get(), "connection-changed", G_CALLBACK(OnConnectionChanged), this);
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
      subscriptions_[subscriptionCount_++] = g_dbus_connection_signal_subscribe(
          bus_.get(), kWatcherName, kWatcherName, signal, kWatcherPath, nullptr,
          G_DBUS_SIGNAL_FLAGS_NONE, OnHostSignal, this, nullptr);
    AskForHost();
  }

  ~TrayNotifierItem() {
    g_cancellable_cancel(cancellable_.get());
    for (int i = 0; i < subscriptionCount_; ++i)
      g_dbus_connection_signal_unsubscribe(bus_.get(), subscriptions_[i]);
    g_signal_handlers_disconnect_by_data(indicator_.get(), this);
    g_object_set_data(G_OBJECT(indicator_.get()), kItemKey, nullptr);
    // Passive first, so the host drops the item even while the bus lingers.
    app_indicator_set_status(indicator_.get(), APP_INDICATOR_STATUS_PASSIVE);
    std::error_code error;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
  }
  TrayNotifierItem(const TrayNotifierItem&) = delete;
  TrayNotifierItem& operator=(const TrayNotifierItem&) = delete;

  // The indicator has registered with a watcher, and a host with that watcher.
  bool Hosted() const { return connected_ && hostRegistered_; }

  void SetConnected(bool connected) {
    if (connected == connected_) return;
    connected_ = connected;
    if (connected) AskForHost();
    changed_();
  }

  void SetActive(bool active) {
    app_indicator_set_status(indicator_.get(),
                             active ? APP_INDICATOR_STATUS_ACTIVE : APP_INDICATOR_STATUS_PASSIVE);
  }
  void SetTitle(const std::string& text) {
    app_indicator_set_title(indicator_.get(), text.c_str());
  }
  void SetImage(int index) {
    app_indicator_set_icon_full(indicator_.get(), kImageNames[index], index ? "Running" : "Idle");
  }

 private:
  // Both as a bare file and in a hicolor tree: hosts differ in where they look.
  void WriteImages(const GObjectPtr<GdkPixbuf> images[2]) {
    g_autofree gchar* folder = g_dir_make_tmp("veltrane-tray-XXXXXX", nullptr);
    if (!folder) return;
    folder_ = folder;
    const std::filesystem::path themed = std::filesystem::path(folder_) / "hicolor/16x16/apps";
    std::error_code error;
    std::filesystem::create_directories(themed, error);
    for (int i = 0; i < 2; ++i) {
      const std::string file = std::string(kImageNames[i]) + ".png";
      gdk_pixbuf_save(images[i].get(), (folder_ + "/" + file).c_str(), "png", nullptr, nullptr);
      gdk_pixbuf_save(images[i].get(), (themed / file).c_str(), "png", nullptr, nullptr);
    }
  }

  static void OnConnectionChanged(AppIndicator*, gboolean connected, gpointer data) {
    static_cast<TrayNotifierItem*>(data)->SetConnected(connected);
  }

  // Asks the watcher whether a host has registered; the answer comes on the
  // main loop, so the user interface never waits on the bus.
  void AskForHost() {
    g_dbus_connection_call(bus_.get(), kWatcherName, kWatcherPath,
                           "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", kWatcherName, "IsStatusNotifierHostRegistered"),
                           G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000,
                           cancellable_.get(), OnHostAnswer, this);
  }

  static void OnHostAnswer(GObject* source, GAsyncResult* result, gpointer data) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GVariant) reply =
        g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    // Cancelled: the item is gone.
    if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
    bool registered = false;
    if (reply) {
      g_autoptr(GVariant) value = nullptr;
      g_variant_get(reply, "(v)", &value);
      registered =
          g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    }
    auto* self = static_cast<TrayNotifierItem*>(data);
    self->hostRegistered_ = registered;
    self->changed_();
  }

  static void OnHostSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant*, gpointer data) {
    static_cast<TrayNotifierItem*>(data)->AskForHost();
  }

  GObjectPtr<GDBusConnection> bus_;
  GObjectPtr<GCancellable> cancellable_;
  std::function<void()> changed_;
  std::string folder_;
  GObjectPtr<AppIndicator> indicator_;
  guint subscriptions_[2] = {0, 0};
  int subscriptionCount_ = 0;
  bool connected_ = false;
  bool hostRegistered_ = false;
};

namespace {

void HostFound(AppIndicator* indicator, bool found) {
  auto* item = static_cast<TrayNotifierItem*>(g_object_get_data(G_OBJECT(indicator), kItemKey));
  if (item) item->SetConnected(found);
}

}  // namespace

GObjectPtr<GdkPixbuf> DrawTrayImage(int index) {
  const CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 16, 16));
  const CairoPtr context(cairo_create(surface.get()));
  cairo_t* cr = context.get();
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
  cairo_surface_flush(surface.get());
  return GObjectPtr<GdkPixbuf>(gdk_pixbuf_get_from_surface(surface.get(), 0, 0, 16, 16));
}

TTrayIcon::TTrayIcon(GtkWindow* mainWindow, GtkMenu* menu) : mainWindow_(mainWindow), menu_(menu) {
  images_[0] = DrawTrayImage(0);
  images_[1] = DrawTrayImage(1);
  icon_.reset(gtk_status_icon_new_from_pixbuf(images_[0].get()));
  gtk_status_icon_set_visible(icon_.get(), FALSE);
  g_signal_connect(icon_.get(), "button-press-event", G_CALLBACK(OnButtonPress), this);
  g_signal_connect(icon_.get(), "button-release-event", G_CALLBACK(OnButtonRelease), this);
  if (GObjectPtr<GDBusConnection> bus = SessionBusIfConfigured())
    item_ = std::make_unique<TrayNotifierItem>(std::move(bus), images_, menu_,
                                               [this] { ShowWhereHosted(); });
}

TTrayIcon::~TTrayIcon() {
  // The icon leaves the tray as the program ends.
  item_.reset();
  g_signal_handlers_disconnect_by_data(icon_.get(), this);
  gtk_status_icon_set_visible(icon_.get(), FALSE);
}

void TTrayIcon::SetHint(const std::string& text) {
  if (text == hint_ || text.size() > kMaxHint) return;
  hint_ = text;
  gtk_status_icon_set_tooltip_text(icon_.get(), hint_.empty() ? nullptr : hint_.c_str());
  if (item_) item_->SetTitle(hint_);
}

void TTrayIcon::SetIconIndex(int index) {
  if (index < 0 || index > 1) return;
  iconIndex_ = index;
  gtk_status_icon_set_from_pixbuf(icon_.get(), images_[index].get());
  if (item_) item_->SetImage(index);
}

void TTrayIcon::SetVisible(bool visible) {
  visible_ = visible;
  ShowWhereHosted();
}

void TTrayIcon::ShowWhereHosted() {
  const bool hosted = item_ && item_->Hosted();
  if (item_) item_->SetActive(visible_);
  gtk_status_icon_set_visible(icon_.get(), visible_ && !hosted);
}

TTrayIcon::Shown TTrayIcon::ShownAs() const {
  if (gtk_status_icon_get_visible(icon_.get())) return Shown::StatusIcon;
  if (visible_ && item_ && item_->Hosted()) return Shown::NotifierItem;
  return Shown::Nowhere;
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
