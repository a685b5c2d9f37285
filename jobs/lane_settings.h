// Lane settings: how many sites of a job the service runs at once
// (parallel_sites in veltrane.conf, 1 to kMaxParallelSites, default 1: one
// site after the other) and how many of them may talk to one host at a time
// (parallel_per_host, 1 or more, default 2). A value that is not a whole
// number in range leaves its default and says so in `problems`. Pure function.
#pragma once

#include <string>
#include <vector>

namespace veltrane {

inline constexpr int kMaxParallelSites = 32;

struct LaneSettings {
  int parallelSites = 1;
  int parallelPerHost = 2;
  std::vector<std::string> problems;  // one trace line per setting not taken
};

LaneSettings LaneSettingsOf(const std::string& configurationText);

}  // namespace veltrane
