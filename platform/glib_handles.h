// Owners for GLib handles: a GObject reference, a cairo context and surface,
// and a main-loop timeout that is removed when its owner goes, so no callback
// ever reaches a dead object. Plain GLib values (strings, errors, variants)
// are owned with GLib's own g_autofree and g_autoptr.
#pragma once

#include <cairo.h>
#include <glib-object.h>

#include <chrono>
#include <functional>
#include <memory>

namespace veltrane {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct CairoDestroy {
  void operator()(cairo_t* context) const { cairo_destroy(context); }
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy>;
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoDestroy>;

// Runs `fire` once on the default main context after `delay`, unless destroyed first.
class TimeoutSource {
 public:
  TimeoutSource(std::chrono::milliseconds delay, std::function<void()> fire);
  ~TimeoutSource();
  TimeoutSource(TimeoutSource&&) noexcept = default;
  TimeoutSource& operator=(TimeoutSource&&) noexcept = default;

 private:
  struct State {
    guint id = 0;
    std::function<void()> fire;
  };
  static gboolean Fire(gpointer data);
  std::unique_ptr<State> state_;
};

}  // namespace veltrane
