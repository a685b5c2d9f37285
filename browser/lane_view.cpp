#include "browser/lane_view.h"

#include <utility>

namespace veltrane {

LaneView::LaneView(WebKitWebView* sibling, WebKitBrowserOptions options) {
  WebKitWebView* view =
      WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(webkit_web_view_get_context(sibling)));
  browser_ = std::make_unique<WebKitBrowser>(std::move(options), view);
  window_ = gtk_offscreen_window_new();
  // The size of the shown view, so that pages lay out alike in every lane.
  gtk_window_set_default_size(GTK_WINDOW(window_), 404, 344);
  gtk_container_add(GTK_CONTAINER(window_), browser_->Widget());
  gtk_widget_show_all(window_);
}

LaneView::~LaneView() {
  // The control lets go of the view's signals before the window takes the view away.
  browser_.reset();
  gtk_widget_destroy(window_);
}

}  // namespace veltrane
