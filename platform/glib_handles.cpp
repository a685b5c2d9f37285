#include "platform/glib_handles.h"

#include <utility>

namespace veltrane {

TimeoutSource::TimeoutSource(std::chrono::milliseconds delay, std::function<void()> fire)
    : state_(std::make_unique<State>()) {
  state_->fire = std::move(fire);
  state_->id = g_timeout_add(static_cast<guint>(delay.count()), &TimeoutSource::Fire, state_.get());
}

TimeoutSource::~TimeoutSource() {
  if (state_ && state_->id != 0) g_source_remove(state_->id);
}

gboolean TimeoutSource::Fire(gpointer data) {
  auto* state = static_cast<State*>(data);
  // `fire` may destroy this source's owner; take what we need first.
  std::function<void()> fire = std::move(state->fire);
  state->id = 0;
  fire();
  return G_SOURCE_REMOVE;
}

}  // namespace veltrane
