#include "browser/request_guard.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

#include "browser/request_guard_protocol.h"
#include "platform/paths.h"

namespace veltrane {
namespace {

constexpr char kModuleName[] = "veltrane-request-guard.so";

// Where the module lies: web-extensions/ beside the program (as installed),
// else the build tree's, for programs run from it.
std::string ModuleDirectory() {
  const std::vector<std::string> candidates = {ExecutableDirectory() + "/web-extensions",
                                               VELTRANE_BUILD_EXTENSIONS_DIR};
  for (const std::string& directory : candidates)
    if (access((directory + "/" + kModuleName).c_str(), R_OK) == 0) return directory;
  std::string searched;
  for (const std::string& directory : candidates) searched += " " + directory;
  throw std::runtime_error(std::string("The request guard ") + kModuleName +
                           " is in none of:" + searched);
}

// The guards of every guarded page of this process, for web processes that
// start while they hold.
std::map<std::uint64_t, std::vector<OriginRule>>& Registry() {
  static std::map<std::uint64_t, std::vector<OriginRule>> guards;
  return guards;
}

void PublishRegistry(WebKitWebView* view) {
  webkit_web_context_set_web_extensions_initialization_user_data(webkit_web_view_get_context(view),
                                                                 GuardsToVariant(Registry()));
}

// The content filter that refuses every WebSocket, compiled once per process
// into a private folder that goes with the process.
class WebSocketFilter {
 public:
  static WebSocketFilter& Get() {
    static WebSocketFilter filter;
    return filter;
  }
  ~WebSocketFilter() {
    if (filter_) webkit_user_content_filter_unref(filter_);
    if (directory_.empty()) return;
    if (GDir* dir = g_dir_open(directory_.c_str(), 0, nullptr)) {
      while (const char* name = g_dir_read_name(dir)) g_unlink((directory_ + "/" + name).c_str());
      g_dir_close(dir);
    }
    g_rmdir(directory_.c_str());
  }
  WebKitUserContentFilter* Ready() const { return filter_; }
  // It could not be compiled: no WebSocket would be refused.
  bool Failed() const { return failed_; }
  // `ready` runs once the filter is compiled, unless `guard` forgets it first.
  void Wait(const RequestGuard* guard, std::function<void()> ready) {
    waiting_[guard] = std::move(ready);
  }
  void Forget(const RequestGuard* guard) { waiting_.erase(guard); }

 private:
  WebSocketFilter() {
    g_autofree char* directory = g_dir_make_tmp("veltrane-filters-XXXXXX", nullptr);
    failed_ = !directory;
    if (failed_) return;
    directory_ = directory;
    store_.reset(webkit_user_content_filter_store_new(directory));
    static const char kRules[] =
        R"([{"trigger":{"url-filter":"^wss?:"},"action":{"type":"block"}}])";
    g_autoptr(GBytes) rules = g_bytes_new_static(kRules, sizeof kRules - 1);
    webkit_user_content_filter_store_save(store_.get(), "websockets", rules, nullptr, &Compiled,
                                          this);
  }
  static void Compiled(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<WebSocketFilter*>(data);
    GError* error = nullptr;
    self->filter_ = webkit_user_content_filter_store_save_finish(
        WEBKIT_USER_CONTENT_FILTER_STORE(source), result, &error);
    if (error) g_printerr("veltrane: WebSocket filter not compiled: %s\n", error->message);
    g_clear_error(&error);
    self->failed_ = !self->filter_;
    for (auto& [guard, ready] : std::exchange(self->waiting_, {})) ready();
  }

  std::string directory_;
  GObjectPtr<WebKitUserContentFilterStore> store_;
  WebKitUserContentFilter* filter_ = nullptr;
  bool failed_ = false;
  std::map<const RequestGuard*, std::function<void()>> waiting_;
};

struct SendTag {
  GObjectPtr<GCancellable> cancellable;
  RequestGuard* guard;
};

}  // namespace

struct RequestGuardSignals {
  static gboolean Message(WebKitWebView*, WebKitUserMessage* message, gpointer data) {
    if (g_strcmp0(webkit_user_message_get_name(message), kRefusedMessage) != 0) return FALSE;
    GVariant* host = webkit_user_message_get_parameters(message);
    auto* guard = static_cast<RequestGuard*>(data);
    if (guard->active_ && host && g_variant_is_of_type(host, G_VARIANT_TYPE_STRING))
      guard->refused_(g_variant_get_string(host, nullptr));
    return TRUE;
  }
  static void Sent(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<SendTag> tag(static_cast<SendTag*>(data));
    GError* error = nullptr;
    g_autoptr(WebKitUserMessage) reply =
        webkit_web_view_send_message_to_page_finish(WEBKIT_WEB_VIEW(source), result, &error);
    const bool cancelled = g_cancellable_is_cancelled(tag->cancellable.get());
    g_clear_error(&error);
    if (!cancelled && !reply && tag->guard->active_) tag->guard->unconfirmed_();
  }
};

void PrepareWebContext(WebKitWebContext* context) {
  webkit_web_context_set_web_extensions_directory(context, ModuleDirectory().c_str());
  webkit_web_context_set_web_extensions_initialization_user_data(context,
                                                                 GuardsToVariant(Registry()));
  WebSocketFilter::Get();  // compiles while the first pages load
}

RequestGuard::RequestGuard(WebKitWebView* view, std::function<void(const std::string&)> refused,
                           std::function<void()> unconfirmed)
    : view_(view),
      refused_(std::move(refused)),
      unconfirmed_(std::move(unconfirmed)),
      cancellable_(g_cancellable_new()) {
  g_signal_connect(view_, "user-message-received", G_CALLBACK(RequestGuardSignals::Message), this);
}

RequestGuard::~RequestGuard() {
  g_cancellable_cancel(cancellable_.get());
  g_signal_handlers_disconnect_by_func(
      view_, reinterpret_cast<gpointer>(RequestGuardSignals::Message), this);
  WebSocketFilter::Get().Forget(this);
  if (Registry().erase(webkit_web_view_get_page_id(view_))) PublishRegistry(view_);
}

void RequestGuard::Set(std::vector<OriginRule> rules) {
  active_ = true;
  ++sets_;
  Send(GuardToVariant(rules));
  Registry()[webkit_web_view_get_page_id(view_)] = std::move(rules);
  PublishRegistry(view_);
  if (WebSocketFilter::Get().Ready() || WebSocketFilter::Get().Failed())
    AddFilter();
  else
    WebSocketFilter::Get().Wait(this, [this] { AddFilter(); });
}

void RequestGuard::Clear() {
  if (!active_) return;
  active_ = false;
  Send(GuardToVariant(std::nullopt));
  Registry().erase(webkit_web_view_get_page_id(view_));
  PublishRegistry(view_);
  WebSocketFilter::Get().Forget(this);
  if (filterAdded_)
    webkit_user_content_manager_remove_filter(webkit_web_view_get_user_content_manager(view_),
                                              WebSocketFilter::Get().Ready());
  filterAdded_ = false;
}

void RequestGuard::Send(GVariant* guard) {
  auto tag = std::make_unique<SendTag>(
      SendTag{GObjectPtr<GCancellable>(G_CANCELLABLE(g_object_ref(cancellable_.get()))), this});
  webkit_web_view_send_message_to_page(view_, webkit_user_message_new(kGuardMessage, guard),
                                       cancellable_.get(), &RequestGuardSignals::Sent,
                                       tag.release());
}

void RequestGuard::AddFilter() {
  WebKitUserContentFilter* filter = WebSocketFilter::Get().Ready();
  if (!active_ || filterAdded_) return;
  if (!filter) {
    unconfirmed_();  // a guard that would let WebSockets through is no guard
    return;
  }
  webkit_user_content_manager_add_filter(webkit_web_view_get_user_content_manager(view_), filter);
  filterAdded_ = true;
}

}  // namespace veltrane
