#include "tools/bench_farm.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace veltrane::bench {
namespace {

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    default: return "Status";
  }
}

// The value of header `name` in the header block `head`, or "".
std::string Header(const std::string& head, const char* name) {
  const std::size_t length = std::strlen(name);
  for (std::size_t line = head.find("\r\n"); line != std::string::npos;
       line = head.find("\r\n", line + 2)) {
    const std::size_t start = line + 2;
    if (strncasecmp(head.c_str() + start, name, length) != 0) continue;
    if (start + length >= head.size() || head[start + length] != ':') continue;
    std::size_t value = head.find_first_not_of(' ', start + length + 1);
    const std::size_t end = head.find("\r\n", start);
    if (value == std::string::npos || value > end) return {};
    return head.substr(value, end - value);
  }
  return {};
}

bool WriteAll(int socket, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

BenchFarm::BenchFarm(Handler handler, std::chrono::milliseconds latency)
    : handler_(std::move(handler)), latency_(latency) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener_, 64) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    throw std::runtime_error(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

BenchFarm::~BenchFarm() {
  stopping_ = true;
  shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  close(listener_);
  {
    std::lock_guard lock(mutex_);
    for (int socket : sockets_) shutdown(socket, SHUT_RDWR);
  }
  for (std::thread& connection : connections_) connection.join();
  for (int socket : sockets_) close(socket);
}

std::string BenchFarm::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<FarmLogEntry> BenchFarm::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void BenchFarm::ClearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

bool BenchFarm::WaitFor(const std::function<bool(const std::vector<FarmLogEntry>&)>& done,
                        std::chrono::milliseconds bound) const {
  std::unique_lock lock(mutex_);
  return logged_.wait_for(lock, bound, [&] { return done(log_); });
}

void BenchFarm::Accept() {
  while (!stopping_) {
    sockaddr_in client{};
    socklen_t size = sizeof client;
    const int socket =
        accept4(listener_, reinterpret_cast<sockaddr*>(&client), &size, SOCK_CLOEXEC);
    if (socket < 0) {
      if (stopping_) return;
      continue;
    }
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::lock_guard lock(mutex_);
    sockets_.push_back(socket);
    const int clientPort = ntohs(client.sin_port);
    connections_.emplace_back([this, socket, clientPort] { Serve(socket, clientPort); });
  }
}

void BenchFarm::Serve(int socket, int clientPort) {
  std::string buffer;
  char chunk[65536];
  for (;;) {
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t n = recv(socket, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    const std::string head = buffer.substr(0, headEnd);
    const std::size_t length = std::strtoul(Header(head, "Content-Length").c_str(), nullptr, 10);
    while (buffer.size() < headEnd + 4 + length) {
      const ssize_t n = recv(socket, chunk, sizeof chunk, 0);
      if (n <= 0) return;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    FarmLogEntry entry;
    entry.received = Clock::now();
    entry.clientPort = clientPort;
    FarmRequest request;
    const std::size_t space = head.find(' ');
    const std::size_t target = space + 1;
    request.method = head.substr(0, space);
    request.path = head.substr(target, head.find_first_of(" ?", target) - target);
    request.body = buffer.substr(headEnd + 4, length);
    buffer.erase(0, headEnd + 4 + length);

    const FarmAnswer answer = handler_(request);
    if (latency_.count() > 0) std::this_thread::sleep_until(entry.received + latency_);
    std::string bytes = "HTTP/1.1 " + std::to_string(answer.status) + " " + Reason(answer.status) +
                        "\r\nContent-Type: " + answer.contentType +
                        "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                        "\r\nCache-Control: no-store\r\n";
    if (!answer.location.empty()) bytes += "Location: " + answer.location + "\r\n";
    bytes += "\r\n";
    bytes += answer.body;
    const bool written = WriteAll(socket, bytes);
    entry.answered = Clock::now();
    entry.method = std::move(request.method);
    entry.path = std::move(request.path);
    {
      std::lock_guard lock(mutex_);
      log_.push_back(std::move(entry));
    }
    logged_.notify_all();
    if (!written || strcasecmp(Header(head, "Connection").c_str(), "close") == 0) return;
  }
}

}  // namespace veltrane::bench
