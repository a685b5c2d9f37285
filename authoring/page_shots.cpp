#include "authoring/page_shots.h"

#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <utility>

#include "browser/glib_handles.h"

namespace veltrane::authoring {

// One capture in flight: the snapshot or the deadline, whichever comes
// first, finishes it; the other finds it finished.
struct PageShots::Shot {
  std::string path;
  std::shared_ptr<int> pending;
  std::shared_ptr<std::vector<std::string>> saved;
  std::unique_ptr<TimeoutSource> deadline;
  GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
  bool finished = false;

  void Finish() {
    if (finished) return;
    finished = true;
    deadline.reset();
    --*pending;
  }
};

PageShots::PageShots(WebKitWebView* view, std::string directory, std::chrono::milliseconds deadline)
    : view_(view), directory_(std::move(directory)), deadline_(deadline) {}

PageShots::~PageShots() = default;

std::string PageShots::Capture() {
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  char name[32];
  std::snprintf(name, sizeof name, "page-%02d.png", ++count_);
  auto shot = std::make_shared<Shot>();
  shot->path = directory_ + "/" + name;
  shot->pending = pending_;
  shot->saved = saved_;
  ++*pending_;
  // A web process that does not answer must not hold up the trial's end.
  shot->deadline = std::make_unique<TimeoutSource>(deadline_, [weak = std::weak_ptr(shot)] {
    if (auto held = weak.lock()) {
      g_cancellable_cancel(held->cancellable.get());
      held->Finish();
    }
  });
  // The callback owns one reference to the shot until it runs.
  webkit_web_view_get_snapshot(view_, WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT,
                               WEBKIT_SNAPSHOT_OPTIONS_NONE, shot->cancellable.get(),
                               &PageShots::OnSnapshot,
                               std::make_unique<std::shared_ptr<Shot>>(shot).release());
  return shot->path;
}

void PageShots::OnSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<Shot>> holder(static_cast<std::shared_ptr<Shot>*>(data));
  const std::shared_ptr<Shot> shot = *holder;
  GError* error = nullptr;
  cairo_surface_t* surface =
      webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) g_error_free(error);
  if (surface && !shot->finished &&
      cairo_surface_write_to_png(surface, shot->path.c_str()) == CAIRO_STATUS_SUCCESS)
    shot->saved->push_back(shot->path);
  if (surface) cairo_surface_destroy(surface);
  shot->Finish();
}

}  // namespace veltrane::authoring
