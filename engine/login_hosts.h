// Where a site's login may be sent: the registrable domain of the site's
// start address and of each host a step names in APP-CredentialHosts, their
// subdomains included. Registrable domains come from the public-suffix list
// (libpsl, the system's list when it is newer than the built-in one); an IP
// address, or a host that has no registrable domain, stands for itself.
// Plain functions and values; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browser/page.h"
#include "model/step_value.h"

namespace veltrane {

// The host of an absolute address, lower case, without user, port or a
// final dot, IPv6 addresses without brackets; empty when the address has no
// "//" authority (about:blank, javascript:, a bare name).
std::string HostOfAddress(std::string_view url);

// The registrable domain of `host` ("www.example.co.uk" gives
// "example.co.uk"); the host itself for an IP address, a public suffix or a
// name without a registrable domain.
std::string RegistrableDomain(std::string_view host);

class LoginHosts {
 public:
  // `credentialHosts`: host names separated by blanks (an address is taken
  // for its host).
  LoginHosts(std::string_view siteUrl, std::string_view credentialHosts);

  // True when `host` lies in one of the domains: its registrable domain is
  // one of them, or it is a subdomain of one that is neither an IP address
  // nor a public suffix (such as "localhost").
  bool Allows(std::string_view host) const;

 private:
  std::vector<std::string> domains_;
};

// When filling form `form` of `page` from `stepValues` would write the login
// (FillWritesLogin) while the page, or the http(s) address the form is sent
// to with `buttonValue` (SubmissionAddress: the button's formaction, else the
// form's action), lies outside `allowed`: that host (the page's when both are
// outside; the whole address when it has no host). Otherwise none.
std::optional<std::string> ForeignLoginHost(const Page& page, int form,
                                            const std::vector<StepValue>& stepValues,
                                            std::string_view buttonValue,
                                            const LoginHosts& allowed);

// The host a navigation to `url` would send a login to when that host lies
// outside `allowed`; none for an allowed host and for addresses that are no
// http(s) address (about:blank and the like send nothing anywhere).
std::optional<std::string> ForeignRequestHost(std::string_view url, const LoginHosts& allowed);

}  // namespace veltrane
