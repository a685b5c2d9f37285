#include "storage/postgres/database_url.h"

#include <cstdlib>

#include "platform/configuration.h"
#include "platform/paths.h"

namespace veltrane {

std::string DatabaseUrlOf(const std::string& configurationText) {
  return ConfigurationValue(configurationText, "database_url");
}

std::string ConfiguredDatabaseUrl() { return ConfiguredDatabaseUrlIn(ExecutableDirectory()); }

std::string ConfiguredDatabaseUrlIn(const std::string& directory) {
  if (const char* variable = std::getenv(kDatabaseUrlVariable); variable && *variable)
    return variable;
  return DatabaseUrlOf(ReadConfiguration(directory));
}

}  // namespace veltrane
