#include "web/shot_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrane::web {
namespace {

constexpr off_t kLargestShot = 64 * 1024 * 1024;

// Closes a descriptor when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool IsServableShot(std::string_view name) {
  if (name.size() < 5 || !name.ends_with(".png") || name.front() == '.') return false;
  for (const char c : name)
    if (c == '/' || c == '\\' || c == '\0' || static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

std::optional<std::string> ReadShot(const std::string& directory, std::string_view recordedName) {
  if (!IsServableShot(recordedName)) return std::nullopt;
  const FileDescriptor folder(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.Get() < 0) return std::nullopt;
  const std::string name(recordedName);
  const FileDescriptor file(openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size > kLargestShot)
    return std::nullopt;
  std::string bytes;
  char buffer[65536];
  for (ssize_t got; (got = read(file.Get(), buffer, sizeof buffer)) != 0;) {
    if (got < 0) return std::nullopt;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

}  // namespace veltrane::web
