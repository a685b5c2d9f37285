// WebRoutes: the web view's answers, request in, response out, without the
// network (web_server.h carries them over HTTP). Reads only: GET and HEAD are
// answered, every other method is refused; a request naming a host that is
// not the server's own (web_hosts.h) gets 421 and nothing of the store. Every answer carries
// headers that keep a browser from loading anything from elsewhere or running any script. One
// thread at a time.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/day_clock.h"
#include "storage/database_files.h"
#include "web/web_access.h"
#include "web/web_facts.h"

namespace veltrane::web {

using Query = std::map<std::string, std::string>;

struct WebRequest {
  std::string method;
  std::string path;  // without the query
  Query query;       // decoded
  std::string peer;  // the client's address
  std::string authorization;
  std::string cookie;
  std::string host;  // the Host header
};

struct WebResponse {
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// The instances' status and the next runs, read as 'veltrane-admin status' does.
using StatusSource = std::function<ServiceStatus()>;

// The JSON under /api/: `path` is what follows "/api/".
using ApiHandler = std::function<WebResponse(const std::string& path, const Query& query)>;

struct WebSetup {
  DatabasePaths paths;
  std::string shotsDirectory;
  std::string token;  // web_token; "" for none
  ApiHandler api;
  StatusSource status;  // none: the overview shows no instance and no next run
  const Clock* clock = &DefaultClock();
  std::vector<std::string> names;  // web_names
  std::string listenHost;          // the numeric address listened on; WebServer sets it
  bool secure = false;             // served over HTTPS; WebServer sets it
};

// How many jobs the overview lists and the grid shows, unless asked otherwise.
inline constexpr int kOverviewJobs = 10;
inline constexpr int kGridJobs = 20;
inline constexpr int kMostGridJobs = 100;

class WebRoutes {
 public:
  explicit WebRoutes(WebSetup setup);

  WebResponse Answer(const WebRequest& request);
  // "/signin?code=..." for the one-time link; "" without a token.
  std::string SignInPath() const;

 private:
  WebResponse SignIn(const WebRequest& request);
  WebResponse Route(const WebRequest& request);
  WebResponse Shot(const Query& query);

  WebSetup setup_;
  AccessGuard guard_;
  WebFacts facts_;
};

}  // namespace veltrane::web
