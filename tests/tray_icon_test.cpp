// The tray icon on a private session bus: with a StatusNotifierWatcher that a
// host has registered with, the icon is a StatusNotifierItem carrying the hint,
// the two images and the menu; without one, and once it goes, the GtkStatusIcon
// stands in.
#include "app/tray_icon.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/main_loop.h"

namespace veltrane {
namespace {

using testing::RunMainLoopUntil;
using Shown = TTrayIcon::Shown;

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";

// A dbus-daemon of the test's own; the environment names it as the session bus.
class PrivateBus {
 public:
  PrivateBus() {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address", nullptr);
      _exit(127);
    }
    close(out[1]);
    char address[512] = {};
    const ssize_t read = ::read(out[0], address, sizeof address - 1);
    close(out[0]);
    if (read > 1) setenv("DBUS_SESSION_BUS_ADDRESS", std::string(address, read - 1).c_str(), 1);
  }
  ~PrivateBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

// A StatusNotifierWatcher with a host registered, as a desktop panel runs it,
// on a connection of its own; the name goes when the watcher does.
class Watcher {
 public:
  Watcher() {
    connection_ = g_dbus_connection_new_for_address_sync(
        std::getenv("DBUS_SESSION_BUS_ADDRESS"),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    node_ = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.kde.StatusNotifierWatcher'>"
        "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
        "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
        "</interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {OnMethod, OnProperty, nullptr, {}};
    if (!connection_ || !node_) return;
    g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher", node_->interfaces[0],
                                      &vtable, this, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (!reply) return;
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    owned_ = result == 1;  // the primary owner
    g_variant_unref(reply);
  }
  ~Watcher() {
    if (connection_) {
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
    if (node_) g_dbus_node_info_unref(node_);
  }
  bool Owned() const { return owned_; }
  // The registered items, each as "bus-name object-path".
  std::vector<std::string> items;

 private:
  static void OnMethod(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                       const gchar*, GVariant* parameters, GDBusMethodInvocation* invocation,
                       gpointer data) {
    const gchar* service = nullptr;
    g_variant_get(parameters, "(&s)", &service);
    // An item names either its object path on the caller, or a bus name.
    static_cast<Watcher*>(data)->items.push_back(
        service[0] == '/' ? std::string(sender) + " " + service
                          : std::string(service) + " /StatusNotifierItem");
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }
  static GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar*, GError**, gpointer) {
    return g_variant_new_boolean(TRUE);
  }

  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* node_ = nullptr;
  bool owned_ = false;
};

// One bus for the whole process, ended as it exits: GIO keeps its session
// connection for good.
std::unique_ptr<PrivateBus> bus;

// Calls a method on the bus and runs the main loop until the answer is in
// (the item answers on this thread). Null on an error or no answer.
GVariant* CallAndWait(const std::string& destination, const std::string& path,
                      const char* interface, const char* method, GVariant* parameters) {
  struct Answer {
    bool done = false;
    GVariant* value = nullptr;
  } answer;
  GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  g_dbus_connection_call(
      connection, destination.c_str(), path.c_str(), interface, method, parameters, nullptr,
      G_DBUS_CALL_FLAGS_NO_AUTO_START, 10000, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        auto* answer = static_cast<Answer*>(data);
        answer->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        answer->done = true;
      },
      &answer);
  RunMainLoopUntil([&] { return answer.done; });
  g_object_unref(connection);
  return answer.value;
}

// One property of the item, as text ("" when it cannot be read).
std::string ItemText(const std::string& item, const char* property) {
  const std::size_t space = item.find(' ');
  GVariant* reply =
      CallAndWait(item.substr(0, space), item.substr(space + 1), "org.freedesktop.DBus.Properties",
                  "Get", g_variant_new("(ss)", kItemInterface, property));
  if (!reply) return "";
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  std::string text = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                             g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)
                         ? g_variant_get_string(value, nullptr)
                         : "";
  g_variant_unref(value);
  g_variant_unref(reply);
  return text;
}

// The labels of the top-level entries of the item's exported menu.
std::vector<std::string> MenuLabels(const std::string& item) {
  std::vector<std::string> labels;
  const char* wanted[] = {"label", nullptr};
  GVariant* reply =
      CallAndWait(item.substr(0, item.find(' ')), ItemText(item, "Menu"), "com.canonical.dbusmenu",
                  "GetLayout", g_variant_new("(ii^as)", 0, 1, wanted));
  if (!reply) return labels;
  GVariant* children = nullptr;  // the root's (ia{sv}av): its children are the last
  g_variant_get(reply, "(u(ia{sv}@av))", nullptr, nullptr, nullptr, &children);
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* child = nullptr;
    g_variant_get_child(children, i, "v", &child);
    GVariant* properties = g_variant_get_child_value(child, 1);
    const gchar* label = nullptr;
    labels.push_back(g_variant_lookup(properties, "label", "&s", &label) ? label : "");
    g_variant_unref(properties);
    g_variant_unref(child);
  }
  g_variant_unref(children);
  g_variant_unref(reply);
  return labels;
}

class TrayIconTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (bus) return;
    bus = std::make_unique<PrivateBus>();
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GDK_BACKEND", "x11", 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "needs an X display (Xvfb)";
  }
  void SetUp() override {
    ASSERT_NE(nullptr, std::getenv("DBUS_SESSION_BUS_ADDRESS")) << "dbus-daemon did not start";
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    menu_ = gtk_menu_new();
    g_object_ref_sink(menu_);
    // As the main window makes them: "Restore" in bold.
    GtkWidget* restore = gtk_menu_item_new_with_label("");
    gtk_label_set_markup(GTK_LABEL(gtk_bin_get_child(GTK_BIN(restore))), "<b>Restore</b>");
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), restore);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu_), gtk_menu_item_new_with_label("Unload"));
    gtk_widget_show_all(menu_);
  }
  void TearDown() override {
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
    gtk_widget_destroy(window_);
  }
  GtkWindow* Window() { return GTK_WINDOW(window_); }
  GtkMenu* Menu() { return GTK_MENU(menu_); }

 private:
  GtkWidget* window_ = nullptr;
  GtkWidget* menu_ = nullptr;
};

TEST_F(TrayIconTest, WithoutAHostTheStatusIconIsShown) {
  TTrayIcon tray(Window(), Menu());
  EXPECT_EQ(Shown::Nowhere, tray.ShownAs());
  tray.SetVisible(true);
  EXPECT_EQ(Shown::StatusIcon, tray.ShownAs());
  // The bus answers in order: once this call returns, the tray's question for
  // a host has had its answer too.
  GVariant* id = CallAndWait("org.freedesktop.DBus", "/org/freedesktop/DBus",
                             "org.freedesktop.DBus", "GetId", nullptr);
  ASSERT_NE(nullptr, id);
  g_variant_unref(id);
  EXPECT_EQ(Shown::StatusIcon, tray.ShownAs());
  tray.SetVisible(false);
  EXPECT_EQ(Shown::Nowhere, tray.ShownAs());
}

TEST_F(TrayIconTest, WithAHostTheItemCarriesHintImagesAndMenuAndFallsBackWhenTheHostGoes) {
  auto watcher = std::make_unique<Watcher>();
  ASSERT_TRUE(watcher->Owned());
  TTrayIcon tray(Window(), Menu());
  tray.SetHint("Veltrane Service :: Idle");
  tray.SetVisible(true);
  ASSERT_TRUE(RunMainLoopUntil([&] { return !watcher->items.empty(); }));
  ASSERT_TRUE(RunMainLoopUntil([&] { return tray.ShownAs() == Shown::NotifierItem; }));
  const std::string item = watcher->items.front();

  EXPECT_EQ("Veltrane Service :: Idle", ItemText(item, "Title"));
  EXPECT_EQ("Active", ItemText(item, "Status"));
  EXPECT_EQ("veltrane-tray-idle", ItemText(item, "IconName"));
  // The host loads the image by name from the item's theme path.
  const std::string idleFile = ItemText(item, "IconThemePath") + "/veltrane-tray-idle.png";
  GdkPixbuf* idle = gdk_pixbuf_new_from_file(idleFile.c_str(), nullptr);
  ASSERT_NE(nullptr, idle) << idleFile;
  EXPECT_EQ(16, gdk_pixbuf_get_width(idle));
  EXPECT_EQ(16, gdk_pixbuf_get_height(idle));
  g_object_unref(idle);
  EXPECT_EQ((std::vector<std::string>{"Restore", "Unload"}), MenuLabels(item));

  tray.SetIconIndex(1);
  tray.SetHint("Veltrane Service :: Running a schedule ...");
  EXPECT_TRUE(RunMainLoopUntil(
      [&] { return ItemText(item, "Title") == "Veltrane Service :: Running a schedule ..."; }));
  EXPECT_EQ("veltrane-tray-running", ItemText(item, "IconName"));

  tray.SetVisible(false);
  EXPECT_EQ(Shown::Nowhere, tray.ShownAs());
  EXPECT_TRUE(RunMainLoopUntil([&] { return ItemText(item, "Status") == "Passive"; }));

  // The panel goes: the icon moves to the XEmbed tray, and back once a host returns.
  tray.SetVisible(true);
  watcher.reset();
  EXPECT_TRUE(RunMainLoopUntil([&] { return tray.ShownAs() == Shown::StatusIcon; }));
  watcher = std::make_unique<Watcher>();
  EXPECT_TRUE(RunMainLoopUntil([&] { return tray.ShownAs() == Shown::NotifierItem; }));
  EXPECT_FALSE(watcher->items.empty());
}

}  // namespace
}  // namespace veltrane
