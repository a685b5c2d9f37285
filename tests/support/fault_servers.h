// Servers on 127.0.0.1 that misbehave on purpose, for the fault suite:
// - RawFaultServer answers at the connection level, by request path: never
//   (the connection is held open), by closing, or by a reset.
// - UntrustedTlsServer speaks HTTPS with a certificate made at start that
//   nobody signed, and counts the requests that got through.
// - HeldResponse answers a path of a RecordingHttpServer only when opened, so
//   that a test can act while the browser waits for it.
// All serve on threads of their own and stop in their destructors; the
// counters are thread-safe.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/recording_http_server.h"

namespace veltrane::testing {

class RawFaultServer {
 public:
  enum class Fault { Silent, Close, Reset };

  RawFaultServer();
  ~RawFaultServer();
  RawFaultServer(const RawFaultServer&) = delete;
  RawFaultServer& operator=(const RawFaultServer&) = delete;

  // Requests of `path` (query ignored) meet `fault`; others get a 404 page.
  void Set(const std::string& path, Fault fault);
  std::string Url(const std::string& path) const;
  int Requests(const std::string& path) const;

 private:
  void Serve();
  void Answer(int connection, const std::string& path);

  int listener_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mutex_;
  std::map<std::string, Fault> faults_;
  std::map<std::string, int> requests_;
  std::vector<int> held_;  // silent connections, closed at the end
  std::thread thread_;
};

class UntrustedTlsServer {
 public:
  // Answers every GET and POST with `body`.
  explicit UntrustedTlsServer(std::string body);
  ~UntrustedTlsServer();
  UntrustedTlsServer(const UntrustedTlsServer&) = delete;
  UntrustedTlsServer& operator=(const UntrustedTlsServer&) = delete;

  std::string Url(const std::string& path) const;
  int Requests() const { return requests_; }

 private:
  struct Credentials;
  std::unique_ptr<Credentials> credentials_;  // made before the server, which needs them
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::atomic<int> requests_{0};
  std::thread thread_;
};

class HeldResponse {
 public:
  // Serves `body` at `path` of `server`; the first request waits until Open(). Destroying the
  // object opens it, so one made after the server ends before it and never blocks its stop.
  HeldResponse(RecordingHttpServer& server, const std::string& path, std::string body);
  ~HeldResponse() { Open(); }
  HeldResponse(const HeldResponse&) = delete;
  HeldResponse& operator=(const HeldResponse&) = delete;

  void Open();

 private:
  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    int arrived = 0;
  };
  std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

}  // namespace veltrane::testing
