// BenchFarm: a small HTTP/1.1 server on 127.0.0.1 for the benchmark. Each
// answer goes out in one write on a socket with TCP_NODELAY, so that a
// client's delayed ACK is never what gets timed. Every request is logged with
// the time it was read in full and the time its answer was written. Pages come
// from a handler the owner gives; the farm knows nothing of sites. Thread-safe;
// the handler runs on the connection's own thread.
//
// A latency, when given, holds every answer back that long after its request
// was read, as a distant server would. Each connection waits on its own
// thread, so requests on several connections at once wait side by side.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltrane::bench {

using Clock = std::chrono::steady_clock;

struct FarmRequest {
  std::string method;
  std::string path;  // without the query
  std::string body;
};

struct FarmAnswer {
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  std::string location;  // a Location header when not empty
};

struct FarmLogEntry {
  std::string method;
  std::string path;
  Clock::time_point received;  // request read in full
  Clock::time_point answered;  // answer written
  int clientPort = 0;          // the client's end of the connection, on 127.0.0.1
};

class BenchFarm {
 public:
  using Handler = std::function<FarmAnswer(const FarmRequest&)>;

  explicit BenchFarm(Handler handler, std::chrono::milliseconds latency = {});
  ~BenchFarm();
  BenchFarm(const BenchFarm&) = delete;
  BenchFarm& operator=(const BenchFarm&) = delete;

  std::chrono::milliseconds Latency() const { return latency_; }

  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path) const;
  int Port() const { return port_; }

  // The log so far, in the order the requests were read.
  std::vector<FarmLogEntry> Log() const;
  void ClearLog();
  // Waits until `done` holds for the log, or `bound` has passed.
  bool WaitFor(const std::function<bool(const std::vector<FarmLogEntry>&)>& done,
               std::chrono::milliseconds bound) const;

 private:
  void Accept();
  void Serve(int socket, int clientPort);

  Handler handler_;
  std::chrono::milliseconds latency_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  mutable std::condition_variable logged_;
  std::vector<FarmLogEntry> log_;
  std::list<std::thread> connections_;
  std::vector<int> sockets_;
};

}  // namespace veltrane::bench
