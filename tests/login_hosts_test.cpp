// The host of an address, as the login rule judges it (domains: step engine tests).
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
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, HostOfAddress(c.input)) << c.input;
}

}  // namespace
}  // namespace veltrane
