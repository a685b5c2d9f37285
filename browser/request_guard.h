// RequestGuard: the view's side of the request guard. While set, every
// request the view's pages send outside the rules is refused before it is
// sent: by the module WebKit loads into the web process (its send-request
// hook sees navigations, frames, sub-resources, fetch, XHR, beacons, pings
// and CSS loads, and names each refused host), and, for WebSockets, which
// never pass that hook, by a content filter that refuses them all while the
// guard is set. A web process started while guarded gets the guard with its
// initialisation data. PrepareWebContext points a context at the module and
// throws when the module is nowhere to be found, so a control never runs
// without it. User-interface thread only.
#pragma once

#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "browser/request_rules.h"
#include "platform/glib_handles.h"

namespace veltrane {

// Loads the guard module into `context`'s web processes.
void PrepareWebContext(WebKitWebContext* context);

class RequestGuard {
 public:
  // `refused`: a host a guarded page was refused; `unconfirmed`: the guard
  // does not hold (the web process has no module or died, or the WebSocket
  // filter could not be compiled).
  RequestGuard(WebKitWebView* view, std::function<void(const std::string&)> refused,
               std::function<void()> unconfirmed);
  ~RequestGuard();
  RequestGuard(const RequestGuard&) = delete;
  RequestGuard& operator=(const RequestGuard&) = delete;

  // Guards the view's pages with `rules`, at once: the message goes ahead of
  // any script call made after it.
  void Set(std::vector<OriginRule> rules);
  void Clear();
  // How many times Set was called: a caller tells whether a guard was set meanwhile.
  std::uint64_t Sets() const { return sets_; }

 private:
  friend struct RequestGuardSignals;
  void Send(GVariant* guard);
  void AddFilter();

  WebKitWebView* view_;
  std::function<void(const std::string&)> refused_;
  std::function<void()> unconfirmed_;
  GObjectPtr<GCancellable> cancellable_;
  bool active_ = false;
  bool filterAdded_ = false;
  std::uint64_t sets_ = 0;
};

}  // namespace veltrane
