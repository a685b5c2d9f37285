#include "web/web_server.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <charconv>
#include <stdexcept>

#include "platform/glib_handles.h"

namespace veltrane::web {
namespace {

WebRequest RequestOf(SoupServerMessage* message, const char* path, GHashTable* query) {
  WebRequest request;
  request.method = soup_server_message_get_method(message);
  // The path arrives percent-encoded; every route is plain ASCII.
  request.path = path ? path : "/";
  if (query) {
    GHashTableIter at;
    gpointer key = nullptr, value = nullptr;
    g_hash_table_iter_init(&at, query);
    while (g_hash_table_iter_next(&at, &key, &value))
      request.query[static_cast<const char*>(key)] = value ? static_cast<const char*>(value) : "";
  }
  if (const char* peer = soup_server_message_get_remote_host(message)) request.peer = peer;
  SoupMessageHeaders* headers = soup_server_message_get_request_headers(message);
  if (const char* authorization = soup_message_headers_get_one(headers, "Authorization"))
    request.authorization = authorization;
  if (const char* cookie = soup_message_headers_get_list(headers, "Cookie"))
    request.cookie = cookie;
  if (const char* host = soup_message_headers_get_one(headers, "Host")) request.host = host;
  return request;
}

// The certificate and key, loaded; none without them.
GObjectPtr<GTlsCertificate> LoadCertificate(const WebTransport& transport) {
  if (transport.certificate.empty() && transport.key.empty()) return nullptr;
  if (transport.certificate.empty() || transport.key.empty())
    throw std::runtime_error(
        "web_certificate and web_key go together: set both in veltrane.conf, or neither");
  GError* error = nullptr;
  GObjectPtr<GTlsCertificate> certificate(g_tls_certificate_new_from_files(
      transport.certificate.c_str(), transport.key.c_str(), &error));
  if (!certificate) {
    const std::string message = error ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("cannot serve HTTPS with web_certificate " + transport.certificate +
                             " and web_key " + transport.key + ": " + message);
  }
  return certificate;
}

}  // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == text.size()) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  else if (host.find(':') != std::string_view::npos)
    return std::nullopt;  // an IPv6 address needs its brackets
  int port = -1;
  const std::string_view digits = text.substr(colon + 1);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port < 0 || port > 65535)
    return std::nullopt;
  const std::string hostText(host);
  GObjectPtr<GInetAddress> address(g_inet_address_new_from_string(hostText.c_str()));
  if (!address) return std::nullopt;
  return ListenAddress{hostText, port};
}

struct WebServer::Impl {
  explicit Impl(WebSetup setup) : routes(std::move(setup)) {}

  static void Handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable* query,
                     gpointer data) {
    Impl& self = *static_cast<Impl*>(data);
    const WebResponse response = self.routes.Answer(RequestOf(message, path, query));
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    for (const auto& [name, value] : response.headers)
      soup_message_headers_append(headers, name.c_str(), value.c_str());
    soup_server_message_set_status(message, static_cast<guint>(response.status), nullptr);
    soup_server_message_set_response(message, response.contentType.c_str(), SOUP_MEMORY_COPY,
                                     response.body.data(), response.body.size());
  }

  WebRoutes routes;
  GObjectPtr<SoupServer> server;
  std::string baseUrl;
};

WebServer::WebServer(const ListenAddress& listen, WebSetup setup, const WebTransport& transport) {
  const bool hasToken = !setup.token.empty();
  const bool loopback = IsLoopbackAddress(listen.host);
  if (!loopback && !hasToken)
    throw std::runtime_error("listening on " + listen.host +
                             " needs a token: set web_token in veltrane.conf, or listen on "
                             "127.0.0.1 and reach it through an SSH tunnel");
  GObjectPtr<GTlsCertificate> certificate = LoadCertificate(transport);
  if (!loopback && !certificate && !transport.plainHttp)
    throw std::runtime_error(
        "listening on " + listen.host +
        " needs HTTPS, or the token and the pages cross the network readable: set "
        "web_certificate and web_key in veltrane.conf, or 'web_plain_http = yes' if that "
        "network is trusted");
  setup.listenHost = listen.host;
  setup.secure = certificate != nullptr;
  impl_ = std::make_unique<Impl>(std::move(setup));
  impl_->server.reset(
      static_cast<SoupServer*>(g_object_new(SOUP_TYPE_SERVER, "server-header", "veltrane-web",
                                            "tls-certificate", certificate.get(), nullptr)));
  soup_server_add_handler(impl_->server.get(), nullptr, &Impl::Handle, impl_.get(), nullptr);

  GObjectPtr<GInetAddress> address(g_inet_address_new_from_string(listen.host.c_str()));
  if (!address) throw std::runtime_error("not an address: " + listen.host);
  GObjectPtr<GSocketAddress> socket(
      g_inet_socket_address_new(address.get(), static_cast<guint16>(listen.port)));
  GError* error = nullptr;
  const auto options = certificate ? SOUP_SERVER_LISTEN_HTTPS : SoupServerListenOptions(0);
  if (!soup_server_listen(impl_->server.get(), socket.get(), options, &error)) {
    const std::string message = error ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("cannot listen on " + listen.host + ":" + std::to_string(listen.port) +
                             ": " + message);
  }
  GSList* uris = soup_server_get_uris(impl_->server.get());
  if (uris) {
    auto* uri = static_cast<GUri*>(uris->data);
    const bool v6 = listen.host.find(':') != std::string::npos;
    impl_->baseUrl = std::string(certificate ? "https://" : "http://") + (v6 ? "[" : "") +
                     listen.host + (v6 ? "]" : "") + ":" + std::to_string(g_uri_get_port(uri));
  }
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

WebServer::~WebServer() {
  if (impl_ && impl_->server) soup_server_disconnect(impl_->server.get());
}

std::string WebServer::BaseUrl() const { return impl_->baseUrl; }

std::string WebServer::SignInLink() const {
  const std::string path = impl_->routes.SignInPath();
  return path.empty() ? "" : impl_->baseUrl + path;
}

}  // namespace veltrane::web
