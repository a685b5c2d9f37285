#include "platform/stop_request.h"

namespace veltrane {

void StopRequest::Request() {
  {
    std::lock_guard lock(mutex_);
    requested_ = true;
  }
  changed_.notify_all();
}

bool StopRequest::Requested() const {
  std::lock_guard lock(mutex_);
  return requested_;
}

bool StopRequest::SleepFor(std::chrono::milliseconds duration) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, duration, [this] { return requested_; });
}

void StopRequest::MarkFinished() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

bool StopRequest::WaitFinished(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return finished_; });
}

}  // namespace veltrane
