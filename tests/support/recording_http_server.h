// RecordingHttpServer: an HTTP server on 127.0.0.1 (a free port) for browser
// tests. It serves registered pages and records every request it receives,
// before answering, so a test that saw the browser react finds it recorded.
// Handlers run on the server's threads; the accessors are thread-safe.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltrane::testing {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string body;
  std::multimap<std::string, std::string> params;  // query and url-encoded form fields
  std::map<std::string, std::string> headers;
};

class RecordingHttpServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  RecordingHttpServer();
  ~RecordingHttpServer();
  RecordingHttpServer(const RecordingHttpServer&) = delete;
  RecordingHttpServer& operator=(const RecordingHttpServer&) = delete;

  // http://127.0.0.1:<port><path>
  std::string Url(const std::string& path) const;
  int Port() const { return port_; }

  // Answers GET and POST of `path` (query ignored) with these bytes.
  void Serve(const std::string& path, std::string body,
             std::string contentType = "text/html; charset=utf-8", int status = 200);
  void Handle(const std::string& path, Handler handler);
  // Answers with `head` and then holds the response open until the server goes.
  void ServeStalled(const std::string& path, std::string head);

  // Every answer waits this long before its handler runs (a network's latency).
  void DelayEachAnswer(std::chrono::milliseconds delay);
  // The most requests to one host (the Host header's name, without its port:
  // "127.0.0.1" and "localhost" are two hosts) that were being answered at once.
  int MostAtOnce(const std::string& host) const;
  // The same over all hosts together.
  int MostAtOnce() const;

  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> RequestsTo(const std::string& path) const;

 private:
  void Dispatch(const httplib::Request& request, httplib::Response& response);

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Handler> handlers_;
  std::vector<RecordedRequest> requests_;
  std::chrono::milliseconds delay_{0};
  std::map<std::string, int> inFlight_;  // per host, and "" for all
  std::map<std::string, int> most_;
};

}  // namespace veltrane::testing
