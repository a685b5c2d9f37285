#include "browser/png_snapshot.h"

#include <cairo.h>

#include <memory>
#include <utility>

#include "browser/glib_handles.h"

namespace veltrane {
namespace {

// One snapshot in flight: whichever comes first, the picture or the
// deadline, finishes it; the other finds it finished and does nothing.
struct Snapshot {
  std::string path;
  std::function<void(bool)> done;
  std::unique_ptr<TimeoutSource> deadline;
  GObjectPtr<GCancellable> cancellable{g_cancellable_new()};

  bool Finished() const { return !done; }
  void Finish(bool saved) {
    if (Finished()) return;
    deadline.reset();
    std::exchange(done, nullptr)(saved);
  }
};

void OnSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
  // The callback owns one reference to the snapshot until it runs.
  std::unique_ptr<std::shared_ptr<Snapshot>> holder(static_cast<std::shared_ptr<Snapshot>*>(data));
  const std::shared_ptr<Snapshot> snapshot = *holder;
  GError* error = nullptr;
  cairo_surface_t* surface =
      webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) g_error_free(error);
  const bool saved =
      surface && !snapshot->Finished() &&
      cairo_surface_write_to_png(surface, snapshot->path.c_str()) == CAIRO_STATUS_SUCCESS;
  if (surface) cairo_surface_destroy(surface);
  snapshot->Finish(saved);
}

}  // namespace

void SavePageAsPng(WebKitWebView* view, std::string path, std::chrono::milliseconds deadline,
                   std::function<void(bool saved)> done) {
  auto snapshot = std::make_shared<Snapshot>();
  snapshot->path = std::move(path);
  snapshot->done = std::move(done);
  snapshot->deadline = std::make_unique<TimeoutSource>(deadline, [weak = std::weak_ptr(snapshot)] {
    if (auto held = weak.lock()) {
      g_cancellable_cancel(held->cancellable.get());
      held->Finish(false);
    }
  });
  webkit_web_view_get_snapshot(view, WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT,
                               WEBKIT_SNAPSHOT_OPTIONS_NONE, snapshot->cancellable.get(),
                               &OnSnapshot,
                               std::make_unique<std::shared_ptr<Snapshot>>(snapshot).release());
}

}  // namespace veltrane
