#include "tests/support/tcp_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace veltrane::testing {
namespace {

constexpr int kTickMs = 50;  // how often the threads look at the mode

template <typename Address>
int ConnectTo(int family, const Address& address) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Moves what one side has to the other; false when that side ended.
bool Forward(int from, int to) {
  char buffer[16384];
  const ssize_t got = read(from, buffer, sizeof buffer);
  if (got <= 0) return false;
  for (ssize_t sent = 0; sent < got;) {
    const ssize_t put = write(to, buffer + sent, static_cast<size_t>(got - sent));
    if (put <= 0) return false;
    sent += put;
  }
  return true;
}

}  // namespace

TcpProxy::TcpProxy(int targetPort) : targetPort_(targetPort) { Listen(); }

TcpProxy::TcpProxy(std::string targetSocket) : targetSocket_(std::move(targetSocket)) { Listen(); }

int TcpProxy::ConnectToTarget() const {
  if (!targetSocket_.empty()) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    targetSocket_.copy(address.sun_path, sizeof address.sun_path - 1);
    return ConnectTo(AF_UNIX, address);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(targetPort_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ConnectTo(AF_INET, address);
}

void TcpProxy::Listen() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 64) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("TcpProxy: cannot listen on 127.0.0.1");
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

TcpProxy::~TcpProxy() {
  stopping_ = true;
  acceptor_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::thread& relay : relays_) relay.join();
  close(listener_);
}

void TcpProxy::Set(Mode mode) { mode_ = mode; }

void TcpProxy::Accept() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, kTickMs) <= 0) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++accepted_;
    if (mode_ == Mode::Cut) {
      close(client);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    relays_.emplace_back([this, client] { Relay(client); });
  }
}

void TcpProxy::Relay(int client) {
  int server = -1;
  while (!stopping_) {
    const Mode mode = mode_;
    if (mode == Mode::Cut) break;
    if (mode == Mode::Freeze) {
      usleep(kTickMs * 1000);
      continue;
    }
    // A frozen connection reaches the server only once it passes again.
    if (server < 0 && (server = ConnectToTarget()) < 0) break;
    pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (poll(ends, 2, kTickMs) <= 0) continue;
    if (mode_ != Mode::Pass) continue;
    if ((ends[0].revents & (POLLIN | POLLHUP | POLLERR)) && !Forward(client, server)) break;
    if ((ends[1].revents & (POLLIN | POLLHUP | POLLERR)) && !Forward(server, client)) break;
  }
  close(client);
  if (server >= 0) close(server);
}

}  // namespace veltrane::testing
