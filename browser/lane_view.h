// LaneView: a browser control for a further lane of a job. Its view is made
// in the web context of another view, so the lanes share one network process,
// one set of settings and one in-memory website data store, and it stands in
// an off-screen window of the browser window's size, so that it lays pages out
// and can be pictured as the shown view is. User-interface thread only.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "browser/webkit_browser.h"

namespace veltrane {

class LaneView {
 public:
  LaneView(WebKitWebView* sibling, WebKitBrowserOptions options);
  ~LaneView();
  LaneView(const LaneView&) = delete;
  LaneView& operator=(const LaneView&) = delete;

  WebKitBrowser& Browser() { return *browser_; }

 private:
  GtkWidget* window_ = nullptr;
  std::unique_ptr<WebKitBrowser> browser_;
};

}  // namespace veltrane
