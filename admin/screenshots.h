// The screenshots the service saves of failed sites, named
// shots/<YYYYMMDD-HHMMSS>-<site>.png (local time; the site name made safe by
// ShotSiteName), and the choice of those that belong to one history row.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrane::admin {

// The site names of a history row's subscription value: comma-separated,
// entries in double quotes with doubled quotes inside.
std::vector<std::string> ParseCommaText(std::string_view text);

// The files in `directory` (full paths, in name order) whose site part is one
// of `sites` and whose time stamp lies after `previousHistoryTime` (the end of
// the job before; jobs run one at a time) and not after `historyTime`.
std::vector<std::string> ScreenshotsOf(const std::string& directory,
                                       const std::vector<std::string>& sites,
                                       double previousHistoryTime, double historyTime);

}  // namespace veltrane::admin
