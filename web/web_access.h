// Who may read the web view. Without a token (web_token in veltrane.conf)
// only requests from this machine (a loopback peer) are answered, and the
// server may listen on loopback only. With a token, every request must carry
// it, from any peer: as "Authorization: Bearer TOKEN", or as the cookie of a
// session that a one-time sign-in link began (each link works once, by GET,
// and each sign-in gets a session secret of its own, never the token).
// Nothing here touches the network; the server asks. One thread at a time.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane::web {

inline constexpr const char* kSessionCookie = "veltrane_session";
// How strong a token must be; see TokenBits.
inline constexpr int kLeastTokenBits = 128;
// Sessions kept at once; a further sign-in ends the oldest.
inline constexpr std::size_t kMostSessions = 32;

// 127.0.0.0/8, ::1 and IPv4-mapped 127.x addresses.
bool IsLoopbackAddress(std::string_view address);

// The bits a token is counted as: 4 a character when it is hex digits only,
// 6 a character otherwise (base64 and the like). A person's phrase is worth
// less; the rule asks for random characters and says so.
int TokenBits(std::string_view token);

// A hard-to-guess text of `bytes` random bytes, as hex.
std::string RandomSecret(std::size_t bytes = 32);

class AccessGuard {
 public:
  // `token` empty: loopback peers only. Throws std::runtime_error, with a
  // message for the operator, for a token of fewer than kLeastTokenBits.
  // `secure`: pages go over HTTPS, so the cookie is marked to stay there.
  explicit AccessGuard(std::string token, bool secure = false);

  bool Allows(std::string_view peer, std::string_view authorization,
              std::string_view cookieHeader) const;
  // True for "Bearer TOKEN" with the right token; never without a token.
  bool CarriesToken(std::string_view authorization) const;
  // The one-time code of the sign-in link; "" without a token.
  const std::string& OneTimeCode() const { return oneTimeCode_; }
  // A new one-time code in place of the last, spent or not; needs a token.
  const std::string& RenewOneTimeCode();
  // For the right code, once: the code is spent and a new session begins.
  // Gives that session's Set-Cookie value; none for any other code.
  std::optional<std::string> Redeem(std::string_view code);

 private:
  std::string token_;
  bool secure_ = false;
  std::string oneTimeCode_;
  std::deque<std::string> sessions_;  // oldest first
};

}  // namespace veltrane::web
