// Who may read the web view. Without a token (web_token in veltrane.conf)
// only requests from this machine (a loopback peer) are answered, and the
// server may listen on loopback only. With a token, every request must carry
// it, from any peer: as "Authorization: Bearer TOKEN", or as the session
// cookie that the one-time link printed at start sets (the link works once;
// the cookie holds a secret of this run, never the token). Nothing here
// touches the network; the server asks. One thread at a time.
#pragma once

#include <string>
#include <string_view>

namespace veltrane::web {

inline constexpr const char* kSessionCookie = "veltrane_session";

// 127.0.0.0/8, ::1 and IPv4-mapped 127.x addresses.
bool IsLoopbackAddress(std::string_view address);

// The web_token of a veltrane.conf text ("web_token = ..." lines as the file's
// other settings: blank and "#" lines ignored, the last one counts); "" when none.
std::string WebTokenOf(const std::string& configurationText);
// The same from DIR/veltrane.conf; "" when it has none or cannot be read.
std::string ConfiguredWebTokenIn(const std::string& directory);

// A hard-to-guess text of `bytes` random bytes, as hex.
std::string RandomSecret(std::size_t bytes = 32);

class AccessGuard {
 public:
  // `token` empty: loopback peers only.
  explicit AccessGuard(std::string token);

  bool Allows(std::string_view peer, std::string_view authorization,
              std::string_view cookieHeader) const;
  // The one-time code of the sign-in link; "" without a token.
  const std::string& OneTimeCode() const { return oneTimeCode_; }
  // True once, for the right code; the code is spent then.
  bool Redeem(std::string_view code);
  // The Set-Cookie value that signs a browser in for this run.
  std::string SessionCookie() const;

 private:
  std::string token_;
  std::string session_;
  std::string oneTimeCode_;
};

}  // namespace veltrane::web
