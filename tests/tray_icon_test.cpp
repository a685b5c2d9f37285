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

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/main_loop.h"
#include "tests/support/temp_dir.h"

namespace veltrane {
namespace {

using testing::RunMainLoopUntil;
using Shown = TTrayIcon::Shown;

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";

// A dbus-daemon of the test's own, on a socket in a temporary directory; it
// activates no services.
class PrivateBus {
 public:
  PrivateBus() {
    const std::string config = dir_.File("bus.conf");
    std::ofstream(config)
        << "<busconfig><type>session</type><listen>unix:dir=" << dir_.Path()
        << "</listen><auth>EXTERNAL</auth><policy context='default'>"
           "<allow user='*'/><allow send_destination='*'/><allow receive_sender='*'/>"
           "<allow own='*'/></policy></busconfig>";
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      execlp("dbus-daemon", "dbus-daemon", "--nofork", "--print-address",
             ("--config-file=" + config).c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    char buffer[512];
    std::FILE* stream = fdopen(out[0], "r");
    if (stream && std::fgets(buffer, sizeof buffer, stream)) {
      address_ = buffer;
      if (!address_.empty() && address_.back() == '\n') address_.pop_back();
    }
    if (stream) std::fclose(stream);
  }
  ~PrivateBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& Address() const { return address_; }

 private:
  testing::TempDir dir_;
  pid_t pid_ = -1;
  std::string address_;
};

// A StatusNotifierWatcher with a host registered, as a desktop panel runs it:
// a connection and a thread of its own, so the tray may block on its answers.
// Stop() closes the connection, and the name goes with it.
class Watcher {
 public:
  explicit Watcher(const std::string& address) : thread_([this, address] { Run(address); }) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return started_; });
  }
  ~Watcher() { Stop(); }
  void Stop() {
    if (!thread_.joinable()) return;
    g_main_context_invoke(context_, Quit, loop_);
    thread_.join();
  }
  bool Owned() const { return owned_; }
  // The registered items as "unique-name path".
  std::vector<std::string> Items() {
    std::lock_guard lock(mutex_);
    return items_;
  }

 private:
  static gboolean Quit(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
  }

  void Run(const std::string& address) {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    loop_ = g_main_loop_new(context_, FALSE);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.kde.StatusNotifierWatcher'>"
        "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
        "<method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>"
        "<property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
        "<property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
        "<property name='ProtocolVersion' type='i' access='read'/>"
        "<signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>"
        "</interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {OnMethod, OnProperty, nullptr, {}};
    if (connection && node) {
      g_dbus_connection_register_object(connection, "/StatusNotifierWatcher", node->interfaces[0],
                                        &vtable, this, nullptr, nullptr);
      GVariant* reply = g_dbus_connection_call_sync(
          connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u),
          G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
      if (reply) {
        guint32 result = 0;
        g_variant_get(reply, "(u)", &result);
        owned_ = result == 1;  // primary owner
        g_variant_unref(reply);
      }
    }
    {
      std::lock_guard lock(mutex_);
      started_ = true;
    }
    ready_.notify_all();
    g_main_loop_run(loop_);
    if (connection) {
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
    }
    if (node) g_dbus_node_info_unref(node);
    g_main_context_pop_thread_default(context_);
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
  }

  static void OnMethod(GDBusConnection* connection, const gchar* sender, const gchar* path,
                       const gchar* interface, const gchar* method, GVariant* parameters,
                       GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<Watcher*>(data);
    if (g_str_equal(method, "RegisterStatusNotifierItem")) {
      const gchar* service = nullptr;
      g_variant_get(parameters, "(&s)", &service);
      // An item names either its object path (on the caller) or its bus name.
      const std::string item = service[0] == '/' ? std::string(sender) + " " + service
                                                 : std::string(service) + " /StatusNotifierItem";
      {
        std::lock_guard lock(self->mutex_);
        self->items_.push_back(item);
      }
      g_dbus_connection_emit_signal(connection, nullptr, path, interface,
                                    "StatusNotifierItemRegistered",
                                    g_variant_new("(s)", item.c_str()), nullptr);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  static GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                              const gchar* property, GError**, gpointer data) {
    auto* self = static_cast<Watcher*>(data);
    if (g_str_equal(property, "IsStatusNotifierHostRegistered")) return g_variant_new_boolean(TRUE);
    if (g_str_equal(property, "ProtocolVersion")) return g_variant_new_int32(0);
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
    for (const std::string& item : self->Items()) g_variant_builder_add(&items, "s", item.c_str());
    return g_variant_builder_end(&items);
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  bool started_ = false;
  bool owned_ = false;
  std::vector<std::string> items_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread thread_;
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

// The top-level entries of the item's exported menu: their ids and labels.
struct MenuEntry {
  gint32 id;
  std::string label;
};
std::vector<MenuEntry> MenuEntries(const std::string& item) {
  std::vector<MenuEntry> entries;
  const char* wanted[] = {"label", nullptr};
  GVariant* reply =
      CallAndWait(item.substr(0, item.find(' ')), ItemText(item, "Menu"), "com.canonical.dbusmenu",
                  "GetLayout", g_variant_new("(ii^as)", 0, 1, wanted));
  if (!reply) return entries;
  GVariant* root = g_variant_get_child_value(reply, 1);
  GVariant* children = g_variant_get_child_value(root, 2);
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    gint32 id = 0;
    GVariant* properties = nullptr;
    g_variant_get_child(child, 0, "i", &id);
    properties = g_variant_get_child_value(child, 1);
    const gchar* label = nullptr;
    entries.push_back({id, g_variant_lookup(properties, "label", "&s", &label) ? label : ""});
    g_variant_unref(properties);
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(root);
  g_variant_unref(reply);
  return entries;
}

// Clicks a menu entry as the host does when the user picks it.
void ClickMenuEntry(const std::string& item, gint32 id) {
  GVariant* reply =
      CallAndWait(item.substr(0, item.find(' ')), ItemText(item, "Menu"), "com.canonical.dbusmenu",
                  "Event", g_variant_new("(isvu)", id, "clicked", g_variant_new_string(""), 0u));
  if (reply) g_variant_unref(reply);
}

class TrayIconTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (bus) return;
    bus = std::make_unique<PrivateBus>();
    setenv("DBUS_SESSION_BUS_ADDRESS", bus->Address().c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GDK_BACKEND", "x11", 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "needs an X display (Xvfb)";
  }
  void SetUp() override {
    ASSERT_FALSE(bus->Address().empty()) << "dbus-daemon did not start";
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    menu_ = gtk_menu_new();
    g_object_ref_sink(menu_);
    for (const char* label : {"Restore", "Unload"}) {
      GtkWidget* entry = gtk_menu_item_new_with_label(label);
      g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkMenuItem* entry, gpointer clicked) {
                         static_cast<std::vector<std::string>*>(clicked)->push_back(
                             gtk_menu_item_get_label(entry));
                       }),
                       &clicked_);
      gtk_menu_shell_append(GTK_MENU_SHELL(menu_), entry);
    }
    gtk_widget_show_all(menu_);
  }
  void TearDown() override {
    gtk_widget_destroy(menu_);
    g_object_unref(menu_);
    gtk_widget_destroy(window_);
  }
  GtkWindow* Window() { return GTK_WINDOW(window_); }
  GtkMenu* Menu() { return GTK_MENU(menu_); }
  std::vector<std::string> clicked_;  // labels of the menu entries activated

 private:
  GtkWidget* window_ = nullptr;
  GtkWidget* menu_ = nullptr;
};

TEST_F(TrayIconTest, WithoutAHostTheStatusIconIsShown) {
  TTrayIcon tray(Window(), Menu());
  EXPECT_EQ(Shown::Nowhere, tray.ShownAs());
  tray.SetVisible(true);
  EXPECT_EQ(Shown::StatusIcon, tray.ShownAs());
  tray.SetVisible(false);
  EXPECT_EQ(Shown::Nowhere, tray.ShownAs());
}

TEST_F(TrayIconTest, WithAHostTheItemCarriesHintImagesAndMenuAndFallsBackWhenTheHostGoes) {
  auto watcher = std::make_unique<Watcher>(bus->Address());
  ASSERT_TRUE(watcher->Owned());
  TTrayIcon tray(Window(), Menu());
  tray.SetHint("Veltrane Service :: Idle");
  tray.SetVisible(true);
  ASSERT_TRUE(RunMainLoopUntil([&] { return !watcher->Items().empty(); }));
  ASSERT_TRUE(RunMainLoopUntil([&] { return tray.ShownAs() == Shown::NotifierItem; }));
  const std::string item = watcher->Items().front();

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
  const std::vector<MenuEntry> entries = MenuEntries(item);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ("Restore", entries[0].label);
  EXPECT_EQ("Unload", entries[1].label);
  ClickMenuEntry(item, entries[1].id);
  EXPECT_TRUE(RunMainLoopUntil([&] { return !clicked_.empty(); }));
  EXPECT_EQ(std::vector<std::string>{"Unload"}, clicked_);

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
  watcher = std::make_unique<Watcher>(bus->Address());
  EXPECT_TRUE(RunMainLoopUntil([&] { return tray.ShownAs() == Shown::NotifierItem; }));
  EXPECT_FALSE(watcher->Items().empty());
}

}  // namespace
}  // namespace veltrane
