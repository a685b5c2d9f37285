// TcpProxy: a TCP relay on 127.0.0.1 in front of one server (its port on
// 127.0.0.1, or its Unix socket), for tests
// that fail one client's connection alone (a service instance's connection
// to a shared database server). Passing, it relays bytes both ways. Cut
// closes every relayed connection and closes each new one at once, as a
// network that drops the peer does. Freeze holds every connection, old and
// new, open and relays nothing, as a server that accepted but does not
// answer; Pass again relays what waited. Threads of its own; thread-safe;
// everything stops in the destructor.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltrane::testing {

class TcpProxy {
 public:
  enum class Mode { Pass, Cut, Freeze };

  explicit TcpProxy(int targetPort);
  explicit TcpProxy(std::string targetSocket);
  ~TcpProxy();
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;

  int Port() const { return port_; }
  void Set(Mode mode);
  // Connections accepted so far.
  int Accepted() const { return accepted_; }

 private:
  void Accept();
  void Relay(int client);

  void Listen();
  int ConnectToTarget() const;

  int targetPort_ = 0;
  std::string targetSocket_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<Mode> mode_{Mode::Pass};
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::vector<std::thread> relays_;
  std::thread acceptor_;
};

}  // namespace veltrane::testing
