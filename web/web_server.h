// WebServer: WebRoutes over HTTP with libsoup 3 on the GLib main loop of the
// thread that makes it (the default context). It listens as soon as it is
// made and stops when it goes; requests are answered while that loop runs.
// With a certificate it serves HTTPS. Listening on an address other than
// loopback needs a token, and HTTPS or the operator's word that plain HTTP
// will do (the token and the pages would cross the network readable).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "web/web_routes.h"

namespace veltrane::web {

inline constexpr const char* kDefaultListen = "127.0.0.1:8470";

struct ListenAddress {
  std::string host;  // a numeric IPv4 or IPv6 address
  int port = 0;      // 0: any free port
};

// "ADDR:PORT", "[IPv6]:PORT"; none when malformed.
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

// How the pages go over the network: HTTPS with a PEM certificate (chain)
// and its key, both or neither; plain HTTP off loopback only with plainHttp.
struct WebTransport {
  std::string certificate;
  std::string key;
  bool plainHttp = false;
};

class WebServer {
 public:
  // Throws std::runtime_error, with a message for the operator, when the
  // address needs a token or HTTPS that is not there, the token is too short,
  // the certificate cannot be read, or the address cannot be listened on.
  WebServer(const ListenAddress& listen, WebSetup setup, const WebTransport& transport = {});
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // "http://127.0.0.1:8470" ("https://..." with TLS), with the port really bound.
  std::string BaseUrl() const;
  // The one-time sign-in link; "" without a token.
  std::string SignInLink() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace veltrane::web
