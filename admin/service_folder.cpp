#include "admin/service_folder.h"

#include <filesystem>
#include <system_error>

#include "storage/postgres/database_url.h"

namespace veltrane::admin {

bool IsServiceFolder(const std::string& directory) {
  const std::filesystem::path folder(directory);
  std::error_code error;
  return std::filesystem::is_directory(folder / "db", error) ||
         std::filesystem::exists(folder / kConfigurationFileName, error);
}

std::string DefaultServiceFolder(const std::string& current, const std::string& own) {
  if (IsServiceFolder(current)) return current;
  if (!own.empty() && IsServiceFolder(own)) return own;
  return current;
}

}  // namespace veltrane::admin
