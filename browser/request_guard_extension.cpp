// The web-process side of the request guard: WebKit loads this module into
// every web process of a control's context. A page under guard refuses every
// request (navigation, frame, sub-resource, fetch, XHR, beacon, ping, CSS)
// that no rule takes, before it is sent, and tells its view the refused host.
// The guard of a page comes in a "veltrane-guard" message, or, for a process
// started while guarded, in the initialisation data. Web process only.
#include <webkit2/webkit-web-extension.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "browser/request_guard_protocol.h"
#include "browser/request_rules.h"

namespace veltrane {
namespace {

// Guarded pages by id; a page without an entry is not guarded.
std::map<std::uint64_t, std::vector<OriginRule>>& Guards() {
  static std::map<std::uint64_t, std::vector<OriginRule>> guards;
  return guards;
}

gboolean OnSendRequest(WebKitWebPage* page, WebKitURIRequest* request, WebKitURIResponse*,
                       gpointer) {
  const auto guard = Guards().find(webkit_web_page_get_id(page));
  if (guard == Guards().end()) return FALSE;
  const char* uri = webkit_uri_request_get_uri(request);
  const std::string url = uri ? uri : "";
  if (RequestAllowed(guard->second, url)) return FALSE;
  const std::string host = RefusedHostOf(url);
  webkit_web_page_send_message_to_view(
      page, webkit_user_message_new(kRefusedMessage, g_variant_new_string(host.c_str())), nullptr,
      nullptr, nullptr);
  return TRUE;  // the request is not sent
}

gboolean OnMessage(WebKitWebPage* page, WebKitUserMessage* message, gpointer) {
  if (g_strcmp0(webkit_user_message_get_name(message), kGuardMessage) != 0) return FALSE;
  const std::optional<std::vector<OriginRule>> rules =
      GuardFromVariant(webkit_user_message_get_parameters(message));
  if (rules)
    Guards()[webkit_web_page_get_id(page)] = *rules;
  else
    Guards().erase(webkit_web_page_get_id(page));
  // The answer tells the view that this module holds the guard now.
  webkit_user_message_send_reply(message, webkit_user_message_new(kGuardMessage, nullptr));
  return TRUE;
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* page, gpointer) {
  g_signal_connect(page, "send-request", G_CALLBACK(OnSendRequest), nullptr);
  g_signal_connect(page, "user-message-received", G_CALLBACK(OnMessage), nullptr);
}

}  // namespace
}  // namespace veltrane

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, GVariant* data) {
  using namespace veltrane;
  for (auto& [page, rules] : GuardsFromVariant(data)) Guards()[page] = std::move(rules);
  g_signal_connect(extension, "page-created", G_CALLBACK(OnPageCreated), nullptr);
}
