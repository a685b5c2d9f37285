#include "web/web_access.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <stdexcept>

#include "platform/configuration.h"
#include "platform/text_lists.h"

namespace veltrane::web {
namespace {

// Compares in a time that does not tell how much of a guess was right.
bool SameSecret(std::string_view given, std::string_view secret) {
  if (secret.empty() || given.size() != secret.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < secret.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
  return difference == 0;
}

// The value of cookie `name` in a Cookie header ("a=1; b=2"); "" when absent.
std::string CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const std::size_t end = header.find(';');
    const std::string pair = TrimBlanks(header.substr(0, end));
    const std::size_t equals = pair.find('=');
    if (equals != std::string::npos && TrimBlanks(pair.substr(0, equals)) == name)
      return TrimBlanks(pair.substr(equals + 1));
    if (end == std::string_view::npos) break;
    header.remove_prefix(end + 1);
  }
  return {};
}

}  // namespace

bool IsLoopbackAddress(std::string_view address) {
  const std::string text(address);
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return false;
  if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
  return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

std::string WebTokenOf(const std::string& configurationText) {
  return ConfigurationValue(configurationText, "web_token");
}

std::string ConfiguredWebTokenIn(const std::string& directory) {
  return WebTokenOf(ReadConfiguration(directory));
}

std::string RandomSecret(std::size_t bytes) {
  std::string raw(bytes, '\0');
  for (std::size_t got = 0; got < bytes;) {
    const ssize_t n = getrandom(raw.data() + got, bytes - got, 0);
    if (n < 0) throw std::runtime_error("no random bytes for a secret");
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (const char c : raw) {
    hex += kHex[static_cast<unsigned char>(c) >> 4];
    hex += kHex[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

AccessGuard::AccessGuard(std::string token) : token_(std::move(token)) {
  if (token_.empty()) return;
  session_ = RandomSecret();
  oneTimeCode_ = RandomSecret();
}

bool AccessGuard::Allows(std::string_view peer, std::string_view authorization,
                         std::string_view cookieHeader) const {
  if (token_.empty()) return IsLoopbackAddress(peer);
  constexpr std::string_view kBearer = "Bearer ";
  if (authorization.starts_with(kBearer) &&
      SameSecret(TrimBlanks(authorization.substr(kBearer.size())), token_))
    return true;
  return SameSecret(CookieValue(cookieHeader, kSessionCookie), session_);
}

bool AccessGuard::Redeem(std::string_view code) {
  if (!SameSecret(code, oneTimeCode_)) return false;
  oneTimeCode_.clear();
  return true;
}

std::string AccessGuard::SessionCookie() const {
  return std::string(kSessionCookie) + "=" + session_ + "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace veltrane::web
