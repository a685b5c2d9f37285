// A stop request for a background loop, and a way to learn that the loop has
// ended. The thread and its owner share it through a shared_ptr, so either
// may go first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace veltrane {

class StopRequest {
 public:
  void Request();
  bool Requested() const;
  // Sleeps for `duration` or until a stop is requested; true when one was.
  bool SleepFor(std::chrono::milliseconds duration) const;

  // Called by the loop as it ends.
  void MarkFinished();
  // True when the loop ended within `timeout`.
  bool WaitFinished(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool requested_ = false;
  bool finished_ = false;
};

}  // namespace veltrane
