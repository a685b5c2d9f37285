#include "web/web_settings.h"

#include <algorithm>
#include <stdexcept>

#include "platform/configuration.h"
#include "platform/text_lists.h"

namespace veltrane::web {
namespace {

std::string PathIn(const std::string& directory, const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  return directory + "/" + path;
}

}  // namespace

std::string WebTokenOf(const std::string& configurationText) {
  return ConfigurationValue(configurationText, "web_token");
}

WebSettings WebSettingsOf(const std::string& configurationText, const std::string& directory) {
  WebSettings settings;
  settings.token = WebTokenOf(configurationText);
  const std::string names = ConfigurationValue(configurationText, "web_names");
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = std::min(names.find_first_of(", \t", at), names.size());
    if (end > at) settings.names.push_back(names.substr(at, end - at));
    at = end + 1;
  }
  settings.certificate =
      PathIn(directory, ConfigurationValue(configurationText, "web_certificate"));
  settings.key = PathIn(directory, ConfigurationValue(configurationText, "web_key"));
  const std::string given = ConfigurationValue(configurationText, "web_plain_http");
  const std::string plain = LowerAscii(given);
  if (plain == "yes" || plain == "true")
    settings.plainHttp = true;
  else if (!plain.empty() && plain != "no" && plain != "false")
    throw std::runtime_error("web_plain_http must be yes or no, not '" + given + "'");
  return settings;
}

WebSettings ConfiguredWebSettingsIn(const std::string& directory) {
  return WebSettingsOf(ReadConfiguration(directory), directory);
}

}  // namespace veltrane::web
