#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace veltrane {

std::string SingleInstanceLock::DefaultPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && std::filesystem::is_directory(runtime))
    return std::string(runtime) + "/" + kName;
  std::error_code ignored;
  return (std::filesystem::temp_directory_path(ignored) /
          (std::string(kName) + "-" + std::to_string(getuid())))
      .string();
}

SingleInstanceLock::SingleInstanceLock(std::string path) : path_(std::move(path)) {
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error_ = "cannot open " + path_ + ": " + std::strerror(errno);
    return;
  }
  acquired_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
  if (acquired_) return;
  if (errno == EWOULDBLOCK)
    heldElsewhere_ = true;
  else
    error_ = "cannot lock " + path_ + ": " + std::strerror(errno);
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) close(fd_);  // closing the descriptor releases the lock
}

}  // namespace veltrane
