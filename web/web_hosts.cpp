#include "web/web_hosts.h"

#include <gio/gio.h>

#include "platform/glib_handles.h"
#include "platform/text_lists.h"
#include "web/web_access.h"

namespace veltrane::web {
namespace {

// The host of a Host header, lower case without a final "."; "" when the
// header is more than a host and a port.
std::string HostOf(std::string_view header) {
  if (header.empty() || header.find_first_of("/\\@?#% \t") != std::string_view::npos) return {};
  const std::string uri = "http://" + std::string(header) + "/";
  g_autofree char* host = nullptr;
  if (!g_uri_split_network(uri.c_str(), G_URI_FLAGS_NONE, nullptr, &host, nullptr, nullptr) ||
      !host)
    return {};
  std::string name = LowerAscii(host);
  if (name.ends_with('.')) name.pop_back();
  return name;
}

GObjectPtr<GInetAddress> AddressOf(const std::string& text) {
  return GObjectPtr<GInetAddress>(g_inet_address_new_from_string(text.c_str()));
}

}  // namespace

bool IsOwnHost(std::string_view hostHeader, std::string_view listenHost,
               const std::vector<std::string>& names) {
  const std::string host = HostOf(hostHeader);
  if (host.empty()) return false;
  if (host == "localhost" || IsLoopbackAddress(host)) return true;
  if (const auto address = AddressOf(host); address && !listenHost.empty()) {
    const auto listened = AddressOf(std::string(listenHost));
    if (listened && (g_inet_address_get_is_any(listened.get()) ||
                     g_inet_address_equal(address.get(), listened.get())))
      return true;
  }
  for (std::string name : names) {
    name = LowerAscii(name);
    if (name.ends_with('.')) name.pop_back();
    if (name == host) return true;
  }
  return false;
}

}  // namespace veltrane::web
