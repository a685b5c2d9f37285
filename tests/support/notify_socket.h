// NotifySocket: a Unix datagram socket of a test's own, standing in for
// systemd's notification socket ($NOTIFY_SOCKET): it keeps every message the
// service sent, in order. Removed with the object.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::testing {

class NotifySocket {
 public:
  // Binds a socket at `path` (which must not exist yet).
  explicit NotifySocket(std::string path);
  ~NotifySocket();
  NotifySocket(const NotifySocket&) = delete;
  NotifySocket& operator=(const NotifySocket&) = delete;

  const std::string& Path() const { return path_; }
  // The next message, waiting up to `bound`; none when nothing came.
  std::optional<std::string> Receive(std::chrono::milliseconds bound);
  // Every message that has come and not been received yet, without waiting.
  std::vector<std::string> Drain();

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace veltrane::testing
