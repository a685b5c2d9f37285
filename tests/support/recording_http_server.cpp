#include "tests/support/recording_http_server.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace veltrane::testing {

RecordingHttpServer::RecordingHttpServer() {
  auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
    Dispatch(request, response);
  };
  server_.Get(".*", dispatch);
  server_.Post(".*", dispatch);
  // One request per connection: stopping then never waits out an idle keep-alive.
  server_.set_keep_alive_max_count(1);
  // The browser opens spare connections it may never use; stop soon after them too.
  server_.set_keep_alive_timeout(1);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a port on 127.0.0.1");
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // stop() is lost on a server that has not started listening yet.
  while (!server_.is_running()) std::this_thread::yield();
}

RecordingHttpServer::~RecordingHttpServer() {
  stopping_ = true;
  server_.stop();
  thread_.join();
}

std::string RecordingHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RecordingHttpServer::Serve(const std::string& path, std::string body, std::string contentType,
                                int status) {
  Handle(path, [body = std::move(body), contentType = std::move(contentType), status](
                   const httplib::Request&, httplib::Response& response) {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(body, contentType.c_str());
  });
}

void RecordingHttpServer::Handle(const std::string& path, Handler handler) {
  std::lock_guard lock(mutex_);
  handlers_[path] = std::move(handler);
}

void RecordingHttpServer::ServeStalled(const std::string& path, std::string head) {
  Handle(path,
         [this, head = std::move(head)](const httplib::Request&, httplib::Response& response) {
           response.set_header("Cache-Control", "no-store");
           response.set_chunked_content_provider(
               "text/html; charset=utf-8", [this, head](size_t offset, httplib::DataSink& sink) {
                 if (offset == 0) return sink.write(head.data(), head.size());
                 // Polls only to notice the end of the test; nothing is timed by it.
                 while (!stopping_ && sink.is_writable()) {
                   std::this_thread::sleep_for(std::chrono::milliseconds(20));
                 }
                 return false;
               });
         });
}

void RecordingHttpServer::DelayEachAnswer(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  delay_ = delay;
}

int RecordingHttpServer::MostAtOnce(const std::string& host) const {
  std::lock_guard lock(mutex_);
  const auto found = most_.find(host);
  return found == most_.end() ? 0 : found->second;
}

int RecordingHttpServer::MostAtOnce() const { return MostAtOnce(""); }

void RecordingHttpServer::Dispatch(const httplib::Request& request, httplib::Response& response) {
  Handler handler;
  std::chrono::milliseconds delay{0};
  const std::string hostHeader = request.get_header_value("Host");
  const std::string host = hostHeader.substr(0, hostHeader.rfind(':'));
  {
    std::lock_guard lock(mutex_);
    delay = delay_;
    for (const std::string& key : {host, std::string()})
      most_[key] = std::max(most_[key], ++inFlight_[key]);
    RecordedRequest& recorded = requests_.emplace_back();
    recorded.method = request.method;
    recorded.path = request.path;
    recorded.body = request.body;
    recorded.params.insert(request.params.begin(), request.params.end());
    for (const auto& [name, value] : request.headers) recorded.headers[name] = value;
    auto found = handlers_.find(request.path);
    if (found != handlers_.end()) handler = found->second;
  }
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
  if (handler) {
    handler(request, response);
  } else {
    response.status = 404;
    response.set_content("<html><body>Not found</body></html>", "text/html");
  }
  std::lock_guard lock(mutex_);
  for (const std::string& key : {host, std::string()}) --inFlight_[key];
}

std::vector<RecordedRequest> RecordingHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> RecordingHttpServer::RequestsTo(const std::string& path) const {
  std::vector<RecordedRequest> matching;
  for (RecordedRequest& request : Requests()) {
    if (request.path == path) matching.push_back(std::move(request));
  }
  return matching;
}

}  // namespace veltrane::testing
