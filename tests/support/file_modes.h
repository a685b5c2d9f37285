// For tests of file modes: a umask set for one scope (the usual 022, under
// which SQLite would create files 0644) and the permission bits of a file.
#pragma once

#include <sys/stat.h>

#include <string>

namespace veltrane::testing {

class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t saved_;
};

// The permission bits of `path`, or -1 when it cannot be read.
inline int ModeOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return -1;
  return static_cast<int>(status.st_mode & 07777);
}

}  // namespace veltrane::testing
