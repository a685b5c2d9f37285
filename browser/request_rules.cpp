#include "browser/request_rules.h"

#include <glib.h>

namespace veltrane {
namespace {

int DefaultPort(std::string_view scheme) {
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  return -1;
}

bool Secure(std::string_view scheme) { return scheme == "https" || scheme == "wss"; }

bool Takes(const OriginRule& rule, const Origin& origin) {
  if (rule.secureOnly && !Secure(origin.scheme)) return false;
  if (rule.port != origin.port) return false;
  if (origin.host == rule.host) return true;
  return rule.subdomains && origin.host.size() > rule.host.size() &&
         origin.host.ends_with(rule.host) &&
         origin.host[origin.host.size() - rule.host.size() - 1] == '.';
}

}  // namespace

std::string AsciiHost(std::string_view host) {
  std::string name(host);
  if (name.ends_with('.')) name.pop_back();
  if (name.empty()) return name;
  // An IPv6 literal, or a name GLib cannot convert, is compared as it is.
  g_autofree char* ascii =
      name.find(':') == std::string::npos ? g_hostname_to_ascii(name.c_str()) : nullptr;
  if (ascii) name = ascii;
  for (char& c : name) c = g_ascii_tolower(c);
  return name;
}

std::optional<Origin> NetworkOriginOf(std::string_view url) {
  const std::string text(url);
  // Left encoded: a query in a legacy character set is no valid UTF-8 decoded.
  g_autoptr(GUri) uri =
      g_uri_parse(text.c_str(),
                  static_cast<GUriFlags>(G_URI_FLAGS_PARSE_RELAXED | G_URI_FLAGS_ENCODED), nullptr);
  if (!uri || !g_uri_get_scheme(uri)) return std::nullopt;
  Origin origin;
  origin.scheme = g_uri_get_scheme(uri);
  for (char& c : origin.scheme) c = g_ascii_tolower(c);
  const int defaultPort = DefaultPort(origin.scheme);
  if (defaultPort < 0) return std::nullopt;
  const char* host = g_uri_get_host(uri);
  if (!host || !*host) return std::nullopt;
  // The host as sent: percent escapes in a name are decoded first.
  g_autofree char* decoded = g_uri_unescape_string(host, nullptr);
  origin.host = AsciiHost(decoded ? decoded : host);
  const int port = g_uri_get_port(uri);
  origin.port = port == defaultPort ? -1 : port;
  return origin;
}

bool RequestAllowed(const std::vector<OriginRule>& rules, std::string_view url) {
  const std::size_t colon = url.find(':');
  if (colon == std::string_view::npos) return true;
  std::string scheme(url.substr(0, colon));
  for (char& c : scheme) c = g_ascii_tolower(c);
  if (DefaultPort(scheme) < 0) return true;
  const std::optional<Origin> origin = NetworkOriginOf(url);
  if (!origin) return false;
  for (const OriginRule& rule : rules)
    if (Takes(rule, *origin)) return true;
  return false;
}

std::string RefusedHostOf(std::string_view url) {
  const std::optional<Origin> origin = NetworkOriginOf(url);
  return origin ? origin->host : std::string(url);
}

}  // namespace veltrane
