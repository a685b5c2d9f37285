#include "engine/login_hosts.h"

#include <arpa/inet.h>
#include <libpsl.h>

#include <algorithm>
#include <memory>

#include "forms/form_filling.h"
#include "forms/form_submission.h"
#include "platform/text_lists.h"

namespace veltrane {
namespace {

// The newest list at hand, loaded once; freeing the built-in one is a no-op.
const psl_ctx_t* SuffixList() {
  static const std::unique_ptr<psl_ctx_t, decltype(&psl_free)> latest(psl_latest(nullptr),
                                                                      &psl_free);
  return latest ? latest.get() : psl_builtin();
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// A name the list itself holds as a suffix ("com", "github.io"); the list's
// catch-all rule, which makes every unknown top-level name a suffix, aside.
bool IsListedSuffix(const std::string& domain) {
  const psl_ctx_t* list = SuffixList();
  return list && psl_is_public_suffix2(list, domain.c_str(), PSL_TYPE_ANY | PSL_TYPE_NO_STAR_RULE);
}

bool IsHttpAddress(std::string_view url) {
  const std::string lower = LowerAscii(url.substr(0, 8));
  return lower.starts_with("http://") || lower.starts_with("https://");
}

}  // namespace

std::string HostOfAddress(std::string_view url) {
  const std::size_t slashes = url.find("//");
  // Only an authority right behind the scheme counts ("http://host", not "a?x=//b").
  const std::size_t colon = url.find(':');
  if (slashes == std::string_view::npos || colon == std::string_view::npos || slashes != colon + 1)
    return {};
  std::string_view authority = url.substr(slashes + 2);
  authority = authority.substr(0, authority.find_first_of("/?#\\"));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);
  std::string_view host = authority;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    host = host.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  return AsciiHost(host);
}

std::string RegistrableDomain(std::string_view host) {
  const std::string name = AsciiHost(host);
  if (name.empty() || IsIpAddress(name)) return name;
  const psl_ctx_t* list = SuffixList();
  const char* domain = list ? psl_registrable_domain(list, name.c_str()) : nullptr;
  return domain ? std::string(domain) : name;
}

LoginHosts::LoginHosts(std::string_view siteUrl, std::string_view credentialHosts) {
  const std::optional<Origin> site = NetworkOriginOf(siteUrl);
  if (!site) return;
  const bool siteSecure = site->scheme == "https" || site->scheme == "wss";
  const auto add = [&](const std::string& host, bool secureOnly, int port) {
    OriginRule rule;
    rule.host = RegistrableDomain(host);
    if (rule.host.empty()) return;
    rule.subdomains = !IsIpAddress(rule.host) && !IsListedSuffix(rule.host);
    rule.secureOnly = secureOnly;
    rule.port = port;
    rules_.push_back(std::move(rule));
  };
  add(site->host, siteSecure, site->port);
  std::size_t from = 0;
  while (from < credentialHosts.size()) {
    const std::size_t end =
        std::min(credentialHosts.find_first_of(" \t", from), credentialHosts.size());
    const std::string_view entry = credentialHosts.substr(from, end - from);
    from = end + 1;
    if (entry.empty()) continue;
    if (entry.find("//") != std::string_view::npos) {
      // An address says its own scheme and port.
      if (const std::optional<Origin> origin = NetworkOriginOf(entry))
        add(origin->host, origin->scheme == "https" || origin->scheme == "wss", origin->port);
      continue;
    }
    // A host without a port is reached on the site's own port.
    const std::optional<Origin> origin = NetworkOriginOf("http://" + std::string(entry));
    if (!origin) continue;
    const std::size_t colon = entry.rfind(':');
    const std::size_t bracket = entry.rfind(']');
    const bool namesPort =
        colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket);
    add(origin->host, siteSecure, namesPort ? origin->port : site->port);
  }
}

bool LoginHosts::Allows(std::string_view url) const {
  return NetworkOriginOf(url) && RequestAllowed(rules_, url);
}

std::optional<std::string> ForeignLoginHost(const Page& page, int form,
                                            const std::vector<StepValue>& stepValues,
                                            std::string_view buttonValue,
                                            const LoginHosts& allowed) {
  if (!FillWritesLogin(page, form, stepValues)) return std::nullopt;
  const auto outside = [&](const std::string& url) -> std::optional<std::string> {
    if (IsHttpAddress(url) && allowed.Allows(url)) return std::nullopt;
    const std::string host = HostOfAddress(url);
    return host.empty() ? url : host;
  };
  if (auto host = outside(page.location)) return host;
  // An address that is no http(s) address sends nothing anywhere by itself: a
  // javascript: action runs in the page judged above, other schemes are
  // never navigated. An unread action (empty) is the page's own address.
  const std::string& address =
      SubmissionAddress(page.forms[static_cast<std::size_t>(form)], buttonValue);
  if (IsHttpAddress(address)) return outside(address);
  return std::nullopt;
}

std::optional<std::string> ForeignRequestHost(std::string_view url, const LoginHosts& allowed) {
  if (!IsHttpAddress(url) || allowed.Allows(url)) return std::nullopt;
  const std::string host = HostOfAddress(url);
  return host.empty() ? std::string(url) : host;
}

}  // namespace veltrane
