// Where a site's login may be sent: the origin of the site's start address,
// widened to its registrable domain with its subdomains, and each host a step
// names in APP-CredentialHosts (likewise widened). An origin keeps its port
// (a host named without one takes the site's port; default ports count as
// equal) and its security: a login from an https site never goes over http,
// one from an http site may go over https. Registrable domains come from the
// public-suffix list (libpsl, the system's list when it is newer than the
// built-in one); an IP address, or a host that has no registrable domain,
// stands for itself. Hosts are compared in ASCII (punycode). Plain functions
// and values; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browser/page.h"
#include "browser/request_rules.h"
#include "model/step_value.h"

namespace veltrane {

// The host of an absolute address, lower-case ASCII (an internationalised
// name in punycode), without user, port or a final dot, IPv6 addresses
// without brackets; empty when the address has no "//" authority
// (about:blank, javascript:, a bare name).
std::string HostOfAddress(std::string_view url);

// The registrable domain of `host` ("www.example.co.uk" gives
// "example.co.uk"); the host itself for an IP address, a public suffix or a
// name without a registrable domain.
std::string RegistrableDomain(std::string_view host);

class LoginHosts {
 public:
  // `credentialHosts`: entries separated by blanks, each a host, a
  // host:port or an address (whose scheme then says whether only https may
  // carry the login).
  LoginHosts(std::string_view siteUrl, std::string_view credentialHosts);

  // True when a request to the http(s)/ws(s) address `url` keeps to the
  // allowed origins: its host is one of the domains, or a subdomain of one
  // that is neither an IP address nor a public suffix (such as "localhost"),
  // on that domain's port and security.
  bool Allows(std::string_view url) const;
  const std::vector<OriginRule>& Rules() const { return rules_; }

 private:
  std::vector<OriginRule> rules_;
};

// When filling form `form` of `page` from `stepValues` would write the login
// (FillWritesLogin) while the page, or the http(s) address the form is sent
// to with `buttonValue` (SubmissionAddress: the button's formaction, else the
// form's action), lies outside `allowed`: that host (the page's when both are
// outside; the whole address when it has no host; a page that is no http(s)
// page is outside). Otherwise none.
std::optional<std::string> ForeignLoginHost(const Page& page, int form,
                                            const std::vector<StepValue>& stepValues,
                                            std::string_view buttonValue,
                                            const LoginHosts& allowed);

// The host a navigation to `url` would send a login to when its origin lies
// outside `allowed`; none for an allowed origin and for addresses that are no
// http(s) address (about:blank and the like send nothing anywhere).
std::optional<std::string> ForeignRequestHost(std::string_view url, const LoginHosts& allowed);

}  // namespace veltrane
