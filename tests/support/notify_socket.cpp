#include "tests/support/notify_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace veltrane::testing {

NotifySocket::NotifySocket(std::string path) : path_(std::move(path)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long");
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    throw std::runtime_error("cannot bind " + path_);
}

NotifySocket::~NotifySocket() {
  if (fd_ >= 0) close(fd_);
  unlink(path_.c_str());
}

std::optional<std::string> NotifySocket::Receive(std::chrono::milliseconds bound) {
  pollfd ready{fd_, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(bound.count())) <= 0) return std::nullopt;
  char buffer[4096];
  const ssize_t size = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
  if (size < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(size));
}

std::vector<std::string> NotifySocket::Drain() {
  std::vector<std::string> messages;
  while (std::optional<std::string> message = Receive(std::chrono::milliseconds(0)))
    messages.push_back(*message);
  return messages;
}

}  // namespace veltrane::testing
