#include "storage/postgres/database_url.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/paths.h"

namespace veltrane {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string DatabaseUrlOf(const std::string& configurationText) {
  std::istringstream lines(configurationText);
  std::string url;
  for (std::string line; std::getline(lines, line);) {
    const std::string_view text = Trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (Trimmed(text.substr(0, equals)) == "database_url")
      url = Trimmed(text.substr(equals + 1));  // the last line counts
  }
  return url;
}

std::string ConfiguredDatabaseUrl() { return ConfiguredDatabaseUrlIn(ExecutableDirectory()); }

std::string ConfiguredDatabaseUrlIn(const std::string& directory) {
  if (const char* variable = std::getenv(kDatabaseUrlVariable); variable && *variable)
    return variable;
  std::ifstream file(directory + "/" + kConfigurationFileName);
  std::stringstream text;
  text << file.rdbuf();
  return DatabaseUrlOf(text.str());
}

}  // namespace veltrane
