// veltrane.conf, the settings file beside the service: lines "name = value";
// blank lines and lines starting with "#" are ignored, blanks around a name
// and its value dropped, and of a name given twice the last line counts.
// The service and veltrane-admin read it; unknown names are left alone.
#pragma once

#include <string>
#include <string_view>

namespace veltrane {

inline constexpr const char* kConfigurationFileName = "veltrane.conf";

// The text of `directory`'s veltrane.conf; "" when there is none.
std::string ReadConfiguration(const std::string& directory);

// The value of setting `name` in a configuration text; "" when it has none.
std::string ConfigurationValue(const std::string& configurationText, std::string_view name);

}  // namespace veltrane
