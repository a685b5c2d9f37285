#include "platform/configuration.h"

#include <fstream>
#include <sstream>

#include "platform/text_lists.h"

namespace veltrane {

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
    const std::string text = TrimBlanks(line);
    if (text.empty() || text.front() == '#') continue;
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    if (TrimBlanks(text.substr(0, equals)) == name) value = TrimBlanks(text.substr(equals + 1));
  }
  return value;
}

}  // namespace veltrane
