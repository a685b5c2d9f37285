// SingleInstanceLock: the one-copy-per-user guard. An exclusive flock on
// $XDG_RUNTIME_DIR/VeltraneService.MUTEX (or, without that directory, on a
// file in the temp directory named with the user id), held until the object
// or the process ends. A lock held by another process is told apart from a
// lock file that cannot be opened or locked at all.
#pragma once

#include <string>

namespace veltrane {

class SingleInstanceLock {
 public:
  static constexpr const char* kName = "VeltraneService.MUTEX";

  // Tries to take the lock at `path` (default: DefaultPath()).
  explicit SingleInstanceLock(std::string path = DefaultPath());
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  bool Acquired() const { return acquired_; }
  // Another process holds the lock: the service is already running.
  bool HeldElsewhere() const { return heldElsewhere_; }
  // Why the lock could not be taken when it is not held elsewhere ("" otherwise).
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

  static std::string DefaultPath();

 private:
  std::string path_;
  int fd_ = -1;
  bool acquired_ = false;
  bool heldElsewhere_ = false;
  std::string error_;
};

}  // namespace veltrane
