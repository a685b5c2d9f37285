#include "platform/paths.h"

#include <unistd.h>

#include <string>

namespace veltrane {

std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0) return "./";
  path.resize(static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1);
}

std::string FileNameSafe(std::string_view text) {
  std::string safe(text);
  for (char& c : safe) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
    if (!kept) c = '_';
  }
  return safe;
}

}  // namespace veltrane
