#include "jobs/lane_settings.h"

#include <charconv>

#include "platform/configuration.h"

namespace veltrane {
namespace {

// Reads setting `name` into `value` when it is a whole number from `least` to
// `most`; otherwise leaves `value` and notes why.
void ReadCount(const std::string& text, const char* name, int least, int most, int& value,
               std::vector<std::string>& problems) {
  const std::string given = ConfigurationValue(text, name);
  if (given.empty()) return;
  int number = 0;
  const auto [end, error] = std::from_chars(given.data(), given.data() + given.size(), number);
  if (error == std::errc() && end == given.data() + given.size() && number >= least &&
      number <= most) {
    value = number;
    return;
  }
  problems.push_back("Setting " + std::string(name) + " '" + given +
                     "' is not a whole number from " + std::to_string(least) + " to " +
                     std::to_string(most) + "; " + std::to_string(value) + " is used");
}

}  // namespace

LaneSettings LaneSettingsOf(const std::string& configurationText) {
  LaneSettings settings;
  ReadCount(configurationText, "parallel_sites", 1, kMaxParallelSites, settings.parallelSites,
            settings.problems);
  ReadCount(configurationText, "parallel_per_host", 1, kMaxParallelSites, settings.parallelPerHost,
            settings.problems);
  return settings;
}

}  // namespace veltrane
