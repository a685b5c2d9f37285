#include "tests/support/fault_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace veltrane::testing {

RawFaultServer::RawFaultServer() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      pipe2(wake_, O_CLOEXEC) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

RawFaultServer::~RawFaultServer() {
  const char stop = 0;
  if (write(wake_[1], &stop, 1) != 1) {
  }
  thread_.join();
  for (int fd : held_) close(fd);
  close(listener_);
  close(wake_[0]);
  close(wake_[1]);
}

void RawFaultServer::Set(const std::string& path, Fault fault) {
  std::lock_guard lock(mutex_);
  faults_[path] = fault;
}

std::string RawFaultServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int RawFaultServer::Requests(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto found = requests_.find(path);
  return found == requests_.end() ? 0 : found->second;
}

void RawFaultServer::Serve() {
  // Connections whose request head is still coming in, with what came so far.
  std::map<int, std::string> reading;
  for (;;) {
    std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const auto& [fd, text] : reading) fds.push_back({fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection >= 0) reading[connection];
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const int fd = fds[i].fd;
      char buffer[4096];
      const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) {
        close(fd);
        reading.erase(fd);
        continue;
      }
      std::string& text = reading[fd];
      text.append(buffer, static_cast<std::size_t>(got));
      if (text.find("\r\n\r\n") == std::string::npos) continue;
      // "GET /path?query HTTP/1.1"
      const auto start = text.find(' ') + 1;
      std::string path = text.substr(start, text.find(' ', start) - start);
      path = path.substr(0, path.find('?'));
      reading.erase(fd);
      Answer(fd, path);
    }
  }
  for (const auto& [fd, text] : reading) close(fd);
}

void RawFaultServer::Answer(int connection, const std::string& path) {
  std::unique_lock lock(mutex_);
  ++requests_[path];
  const auto found = faults_.find(path);
  if (found == faults_.end()) {
    lock.unlock();
    const std::string notFound =
        "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 9\r\n"
        "Connection: close\r\n\r\nNot found";
    if (send(connection, notFound.data(), notFound.size(), MSG_NOSIGNAL) < 0) {
    }
    close(connection);
    return;
  }
  switch (found->second) {
    case Fault::Silent: held_.push_back(connection); return;
    case Fault::Close: close(connection); return;
    case Fault::Reset: {
      // A zero linger time makes close() send a reset instead of a FIN.
      const linger abort{1, 0};
      setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      close(connection);
      return;
    }
  }
}

struct UntrustedTlsServer::Credentials {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key{EVP_EC_gen("P-256"), &EVP_PKEY_free};
  std::unique_ptr<X509, decltype(&X509_free)> certificate{X509_new(), &X509_free};

  Credentials() {
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);  // signed by itself
    X509_sign(cert, key.get(), EVP_sha256());
  }
};

UntrustedTlsServer::UntrustedTlsServer(std::string body)
    : credentials_(std::make_unique<Credentials>()),
      server_(std::make_unique<httplib::SSLServer>(credentials_->certificate.get(),
                                                   credentials_->key.get())) {
  auto answer = [this, body = std::move(body)](const httplib::Request&,
                                               httplib::Response& response) {
    ++requests_;
    response.set_content(body, "text/html");
  };
  server_->Get(".*", answer);
  server_->Post(".*", answer);
  server_->set_keep_alive_max_count(1);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a port on 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::yield();
}

UntrustedTlsServer::~UntrustedTlsServer() {
  server_->stop();
  thread_.join();
}

std::string UntrustedTlsServer::Url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

HeldResponse::HeldResponse(RecordingHttpServer& server, const std::string& path, std::string body) {
  server.Handle(path, [gate = gate_, body = std::move(body)](const httplib::Request&,
                                                             httplib::Response& response) {
    {
      std::unique_lock lock(gate->mutex);
      if (gate->arrived++ == 0) gate->opened.wait(lock, [&] { return gate->open; });
    }
    response.set_header("Cache-Control", "no-store");
    response.set_content(body, "text/html; charset=utf-8");
  });
}

void HeldResponse::Open() {
  std::lock_guard lock(gate_->mutex);
  gate_->open = true;
  gate_->opened.notify_all();
}

}  // namespace veltrane::testing
