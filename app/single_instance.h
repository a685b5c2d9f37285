// SingleInstanceLock: the one-copy-per-user guard. An exclusive flock on
// $XDG_RUNTIME_DIR/VeltraneService.MUTEX (or, without that directory, on a
// file in the temp directory named with the user id), held until the object
// or the process ends.
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

  // False when another process holds it (or the file cannot be opened).
  bool Acquired() const { return acquired_; }
  const std::string& Path() const { return path_; }

  static std::string DefaultPath();

 private:
  std::string path_;
  int fd_ = -1;
  bool acquired_ = false;
};

}  // namespace veltrane
