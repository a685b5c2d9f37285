#include "browser/png_snapshot.h"

#include <cairo.h>
#include <unistd.h>

#include <memory>
#include <utility>

#include "browser/page_scripts.h"
#include "platform/glib_handles.h"
#include "platform/private_files.h"

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

cairo_status_t WriteToFd(void* closure, const unsigned char* data, unsigned int length) {
  const int fd = *static_cast<int*>(closure);
  while (length > 0) {
    const ssize_t written = write(fd, data, length);
    if (written <= 0) return CAIRO_STATUS_WRITE_ERROR;
    data += written;
    length -= static_cast<unsigned int>(written);
  }
  return CAIRO_STATUS_SUCCESS;
}

// The picture as a PNG file only its owner can read: a page may show what
// the job filled in.
bool WritePrivatePng(cairo_surface_t* surface, const std::string& path) {
  int fd = OpenPrivateFile(path);
  if (fd < 0) return false;
  const bool written =
      cairo_surface_write_to_png_stream(surface, &WriteToFd, &fd) == CAIRO_STATUS_SUCCESS;
  return close(fd) == 0 && written;
}

void OnSnapshot(GObject* source, GAsyncResult* result, gpointer data) {
  // The callback owns one reference to the snapshot until it runs.
  std::unique_ptr<std::shared_ptr<Snapshot>> holder(static_cast<std::shared_ptr<Snapshot>*>(data));
  const std::shared_ptr<Snapshot> snapshot = *holder;
  GError* error = nullptr;
  cairo_surface_t* surface =
      webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), result, &error);
  if (error) g_error_free(error);
  const bool saved = surface && !snapshot->Finished() && WritePrivatePng(surface, snapshot->path);
  if (surface) cairo_surface_destroy(surface);
  snapshot->Finish(saved);
}

void OnBlanked(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<std::shared_ptr<Snapshot>> holder(static_cast<std::shared_ptr<Snapshot>*>(data));
  const std::shared_ptr<Snapshot> snapshot = *holder;
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source),
                                                                          result, &error);
  if (value) g_object_unref(value);
  // A page whose login could not be emptied is not pictured at all.
  if (error) {
    g_error_free(error);
    snapshot->Finish(false);
    return;
  }
  if (snapshot->Finished()) return;
  webkit_web_view_get_snapshot(WEBKIT_WEB_VIEW(source), WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT,
                               WEBKIT_SNAPSHOT_OPTIONS_NONE, snapshot->cancellable.get(),
                               &OnSnapshot, holder.release());
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
  // The login the job filled in, and every password control, are emptied first.
  webkit_web_view_call_async_javascript_function(
      view, kBlankLoginScript, -1, nullptr, kScriptWorld, nullptr, snapshot->cancellable.get(),
      &OnBlanked, std::make_unique<std::shared_ptr<Snapshot>>(snapshot).release());
}

}  // namespace veltrane
