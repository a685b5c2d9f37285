// Request rules: the origins a page may send requests to while it holds a
// site's login, as plain data that crosses into the web process. An origin is
// a scheme, a host and a port: a rule names a host (its subdomains too when
// `subdomains`), a port (-1: the scheme's default, so http on 80 and https on
// 443 count as the same port), and whether only https/wss may carry it. An
// http rule lets https through too, never the other way round. Hosts are
// lower-case ASCII (punycode). Plain functions over GLib's URI parser; any
// thread, any process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

struct OriginRule {
  std::string host;
  bool subdomains = false;
  bool secureOnly = false;
  int port = -1;
};

struct Origin {
  std::string scheme;  // lower case
  std::string host;    // lower-case ASCII, IPv6 without brackets
  int port = -1;       // -1: the scheme's default
};

// The origin of an absolute http, https, ws or wss address; none for any
// other scheme and for an address that does not parse.
std::optional<Origin> NetworkOriginOf(std::string_view url);

// A host in the form hosts are compared in: lower-case ASCII, an
// internationalised name in punycode, without a final dot.
std::string AsciiHost(std::string_view host);

// Whether a request to `url` may go: an address of another scheme (about:,
// data:, blob:, javascript:) sends nothing anywhere by itself and may; an
// http(s)/ws(s) address may when one of `rules` takes its origin; one that
// does not parse may not.
bool RequestAllowed(const std::vector<OriginRule>& rules, std::string_view url);

// The host of a refused request as traced: the host, or the whole address
// when it has none.
std::string RefusedHostOf(std::string_view url);

}  // namespace veltrane
