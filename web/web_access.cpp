#include "web/web_access.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <stdexcept>

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

int TokenBits(std::string_view token) {
  const bool hex = token.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
  return static_cast<int>(token.size()) * (hex ? 4 : 6);
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

AccessGuard::AccessGuard(std::string token, bool secure)
    : token_(std::move(token)), secure_(secure) {
  if (token_.empty()) return;
  if (TokenBits(token_) < kLeastTokenBits)
    throw std::runtime_error(
        "web_token is too short: it must hold at least 128 bits, that is 32 characters when "
        "it is hex digits only, 22 otherwise (base64, for one); this one has " +
        std::to_string(token_.size()) + ". Make one with 'openssl rand -hex 16'");
  oneTimeCode_ = RandomSecret();
}

bool AccessGuard::CarriesToken(std::string_view authorization) const {
  constexpr std::string_view kBearer = "Bearer ";
  return !token_.empty() && authorization.starts_with(kBearer) &&
         SameSecret(TrimBlanks(authorization.substr(kBearer.size())), token_);
}

bool AccessGuard::Allows(std::string_view peer, std::string_view authorization,
                         std::string_view cookieHeader) const {
  if (token_.empty()) return IsLoopbackAddress(peer);
  if (CarriesToken(authorization)) return true;
  const std::string given = CookieValue(cookieHeader, kSessionCookie);
  bool known = false;  // every session is compared, so the time tells nothing
  for (const std::string& session : sessions_) known = SameSecret(given, session) || known;
  return known;
}

const std::string& AccessGuard::RenewOneTimeCode() {
  if (!token_.empty()) oneTimeCode_ = RandomSecret();
  return oneTimeCode_;
}

std::optional<std::string> AccessGuard::Redeem(std::string_view code) {
  if (!SameSecret(code, oneTimeCode_)) return std::nullopt;
  oneTimeCode_.clear();
  if (sessions_.size() >= kMostSessions) sessions_.pop_front();
  sessions_.push_back(RandomSecret());
  return std::string(kSessionCookie) + "=" + sessions_.back() +
         "; Path=/; HttpOnly; SameSite=Strict" + (secure_ ? "; Secure" : "");
}

}  // namespace veltrane::web
