// UiTimer: a window timer on the GLib main loop of the user-interface thread.
// Enabling a disabled timer starts a fresh period; enabling an enabled one
// changes nothing; changing the interval of a running timer restarts it.
// The handler runs on the main loop, one tick at a time, also inside the
// nested loop of a modal dialog.
#pragma once

#include <glib.h>

#include <functional>

namespace veltrane {

class UiTimer {
 public:
  UiTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer);
  ~UiTimer();
  UiTimer(const UiTimer&) = delete;
  UiTimer& operator=(const UiTimer&) = delete;

  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned intervalMs);
  bool Enabled() const { return source_ != 0; }
  void SetEnabled(bool enabled);

 private:
  static gboolean Tick(gpointer self);
  void Start();
  void Stop();

  unsigned interval_;
  guint source_ = 0;
  std::function<void()> onTimer_;
};

}  // namespace veltrane
