#include "browser/failure_shots.h"

#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <utility>

#include "browser/glib_handles.h"
#include "platform/date_text.h"
#include "platform/paths.h"

namespace veltrane {

std::string ShotFileName(double dayNumber, const std::string& site) {
  return DateStampText(dayNumber) + "-" + FileNameSafe(site) + ".png";
}

// One capture in flight: whichever comes first, the snapshot or the
// deadline, finishes it; the other finds it finished and does nothing.
struct FailureShots::Pending {
  std::weak_ptr<bool> owner;
  FailureShots* shots = nullptr;
  std::string path;
  std::function<void()> then;
  std::unique_ptr<TimeoutSource> deadline;
  GObjectPtr<GCancellable> cancellable{g_cancellable_new()};
  bool finished = false;

  void Finish() {
    if (finished) return;
    finished = true;
    deadline.reset();
    if (owner.expired()) return;
    if (auto next = std::exchange(then, nullptr)) next();
  }
};

FailureShots::FailureShots(WebKitWebView* view, std::string directory, TraceSink& trace,
                           const Clock& clock, std::chrono::milliseconds deadline)
    : view_(view),
      directory_(std::move(directory)),
      trace_(trace),
      clock_(clock),
      deadline_(deadline),
      alive_(std::make_shared<bool>(true)) {}

FailureShots::~FailureShots() = default;

void FailureShots::Capture(const std::string& site, std::function<void()> then) {
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  auto pending = std::make_shared<Pending>();
  pending->owner = alive_;
  pending->shots = this;
  pending->path = directory_ + "/" + ShotFileName(clock_.Now(), site);
  pending->then = std::move(then);
  // A web process that does not answer must not hold up the job.
  pending->deadline = std::make_unique<TimeoutSource>(deadline_, [weak = std::weak_ptr(pending)] {
    if (auto held = weak.lock()) {
      g_cancellable_cancel(held->cancellable.get());
      held->Finish();
    }
  });
  // The callback owns one reference to the pending capture until it runs.
  webkit_web_view_get_snapshot(view_, WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT,
                               WEBKIT_SNAPSHOT_OPTIONS_NONE, pending->cancellable.get(),
                               &FailureShots::OnSnapshot,
                               std::make_unique<std::shared_ptr<Pending>>(pending).release());
}

void FailureShots::OnSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<Pending>> holder(static_cast<std::shared_ptr<Pending>*>(data));
  std::shared_ptr<Pending> pending = *holder;
  GError* error = nullptr;
  cairo_surface_t* surface =
      webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) g_error_free(error);
  if (surface && !pending->finished && !pending->owner.expired()) {
    if (cairo_surface_write_to_png(surface, pending->path.c_str()) == CAIRO_STATUS_SUCCESS)
      pending->shots->trace_.TraceLine("Screenshot saved : " + pending->path);
  }
  if (surface) cairo_surface_destroy(surface);
  pending->Finish();
}

}  // namespace veltrane
