#include "platform/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace veltrane {

bool MakePrivateDirectories(const std::string& path, std::error_code& error) {
  error.clear();
  std::filesystem::path made;
  for (const std::filesystem::path& part : std::filesystem::path(path)) {
    made /= part;
    if (mkdir(made.c_str(), 0700) == 0) {
      // The umask only takes bits away; this makes it exactly 0700 under any,
      // on the folder just made and not on a link put there since.
      const int fd = open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd >= 0) {
        fchmod(fd, 0700);
        close(fd);
      }
      continue;
    }
    if (errno == EEXIST && std::filesystem::is_directory(made, error)) continue;
    if (!error) error = std::error_code(errno == EEXIST ? ENOTDIR : errno, std::generic_category());
    return false;
  }
  return true;
}

int OpenPrivateFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0 && fchmod(fd, 0600) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

std::string SymbolicLinkRefusal(const std::string& path) {
  return path + " is a symbolic link, which is not followed";
}

}  // namespace veltrane
