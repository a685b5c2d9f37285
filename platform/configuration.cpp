#include "platform/configuration.h"

#include <fstream>
#include <sstream>

namespace veltrane {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string ReadConfiguration(const std::string& directory) {
  std::ifstream file(directory + "/" + kConfigurationFileName);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string ConfigurationValue(const std::string& configurationText, std::string_view name) {
  std::istringstream lines(configurationText);
  std::string value;
  for (std::string line; std::getline(lines, line);) {
    const std::string_view text = Trimmed(line);
    if (text.empty() || text.front() == '#') continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    if (Trimmed(text.substr(0, equals)) == name) value = Trimmed(text.substr(equals + 1));
  }
  return value;
}

}  // namespace veltrane
