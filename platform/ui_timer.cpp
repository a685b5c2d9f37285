#include "platform/ui_timer.h"

#include <utility>

namespace veltrane {

UiTimer::UiTimer(unsigned intervalMs, bool enabled, std::function<void()> onTimer)
    : interval_(intervalMs), onTimer_(std::move(onTimer)) {
  if (enabled) Start();
}

UiTimer::~UiTimer() { Stop(); }

void UiTimer::SetInterval(unsigned intervalMs) {
  interval_ = intervalMs;
  if (Enabled()) {
    Stop();
    Start();
  }
}

void UiTimer::SetEnabled(bool enabled) {
  if (enabled && !Enabled()) Start();
  if (!enabled) Stop();
}

void UiTimer::Start() { source_ = g_timeout_add(interval_, &UiTimer::Tick, this); }

void UiTimer::Stop() {
  if (source_ != 0) g_source_remove(source_);
  source_ = 0;
}

gboolean UiTimer::Tick(gpointer data) {
  auto* self = static_cast<UiTimer*>(data);
  const guint ticking = self->source_;
  if (self->onTimer_) self->onTimer_();
  // The handler may have disabled (or disabled and re-enabled) this timer; only
  // the source that is still ours keeps running.
  return self->source_ == ticking && ticking != 0 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

}  // namespace veltrane
