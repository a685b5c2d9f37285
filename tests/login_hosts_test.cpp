// The host of an address and the origins a login may go to, as the login rule
// judges them (domains: step engine tests).
#include "engine/login_hosts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrane {
namespace {

struct Case {
  std::string input;
  std::string want;
};

TEST(LoginHosts, HostOfAddress) {
  const std::vector<Case> cases = {
      {"https://WWW.Example.COM/path?q=//x#f", "www.example.com"},
      {"http://user:pw@login.example.com:8080/", "login.example.com"},
      // What lies before the "@" is a user name, not the host.
      {"https://www.example.com@evil.org/", "evil.org"},
      {"https://www.example.com.:443/", "www.example.com"},
      {"http://[::1]:8080/x", "::1"},
      {"http://127.0.0.1:18765", "127.0.0.1"},
      {"https://host.test\\path", "host.test"},
      {"about:blank", ""},
      {"javascript:location='//evil.org/'", ""},
      {"www.example.com/login", ""},
      {"", ""},
      // Hosts compare in ASCII: an internationalised name in punycode.
      {"http://B\xC3\xBC"
       "cher.Example/x",
       "xn--bcher-kva.example"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, HostOfAddress(c.input)) << c.input;
}

// An origin is scheme, host and port: another port is elsewhere, https may
// carry an http site's login but never the other way round, a credential host
// takes the site's port unless it names one, and default ports are equal.
TEST(LoginHosts, AllowsOnlyTheSitesOrigins) {
  const LoginHosts local("http://127.0.0.1:8080/start", "localhost login.example:8443");
  EXPECT_TRUE(local.Allows("http://127.0.0.1:8080/post"));
  EXPECT_TRUE(local.Allows("https://127.0.0.1:8080/post"));
  EXPECT_FALSE(local.Allows("http://127.0.0.1:9090/post"));
  EXPECT_FALSE(local.Allows("http://127.0.0.1/post"));
  EXPECT_TRUE(local.Allows("http://localhost:8080/"));
  EXPECT_FALSE(local.Allows("http://localhost:9090/"));
  EXPECT_TRUE(local.Allows("http://www.login.example:8443/"));
  EXPECT_FALSE(local.Allows("http://login.example:8080/"));

  const LoginHosts secure("https://www.Example.com/", "https://auth.example.net");
  EXPECT_TRUE(secure.Allows("https://login.example.com:443/"));
  EXPECT_TRUE(secure.Allows("wss://example.com/socket"));
  EXPECT_FALSE(secure.Allows("http://www.example.com/"));
  EXPECT_FALSE(secure.Allows("ws://www.example.com/"));
  EXPECT_FALSE(secure.Allows("https://example.com:8443/"));
  EXPECT_FALSE(secure.Allows("https://example.com.evil.org/"));
  EXPECT_FALSE(secure.Allows("https://evilexample.com/"));
  EXPECT_TRUE(secure.Allows("https://auth.example.net/"));
  EXPECT_FALSE(secure.Allows("http://auth.example.net/"));

  const LoginHosts plain("http://example.com/", "");
  EXPECT_TRUE(plain.Allows("https://example.com/login"));
  EXPECT_TRUE(plain.Allows("http://example.com:80/"));
  EXPECT_TRUE(plain.Allows("http://example.com/welcome?pass=P%E4ss+w%80"));

  const LoginHosts unicode(
      "http://b\xC3\xBC"
      "cher.example/",
      "");
  EXPECT_TRUE(unicode.Allows("http://xn--bcher-kva.example/login"));

  // What the guard in the web process lets through without a rule for it.
  const std::vector<OriginRule>& rules = plain.Rules();
  EXPECT_TRUE(RequestAllowed(rules, "about:blank"));
  EXPECT_TRUE(RequestAllowed(rules, "data:text/plain,x"));
  EXPECT_FALSE(RequestAllowed(rules, "http://[bad"));
  EXPECT_FALSE(RequestAllowed({}, "http://example.com/"));
}

}  // namespace
}  // namespace veltrane
