#include "storage/database_files.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/paths.h"
#include "storage/postgres/database_url.h"

namespace veltrane {

std::string MainDatabasePath() { return ExecutableDirectory() + kMainDatabaseName; }

std::string SubscriptionDatabasePath() { return ExecutableDirectory() + kSubscriptionDatabaseName; }

DatabasePaths ProgramDatabasePaths() {
  return {MainDatabasePath(), SubscriptionDatabasePath(), ConfiguredDatabaseUrl()};
}

void CreateDatabaseFileIfMissing(const std::string& path) {
  if (path.empty() || path == ":memory:" || path.starts_with("file:")) return;
  // O_EXCL: an existing file, whatever its mode, is left as it is.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kDatabaseFileMode);
  if (fd >= 0) close(fd);
}

}  // namespace veltrane
