#include "jobs/failed_sites_line.h"

namespace veltrane {

std::string FailedSitesLine(ScheduleId scheduleId, const std::string& pressRelease,
                            const std::vector<SiteRecord>& sites) {
  std::string failed;
  std::size_t count = 0;
  for (const SiteRecord& record : sites) {
    if (record.completed) continue;
    if (count++ > 0) failed += "; ";
    failed += record.site + " (" + record.reason + ")";
  }
  if (count == 0) return "";
  const std::string of = std::to_string(count) + " of " + std::to_string(sites.size());
  const std::string job =
      "Job of schedule " + std::to_string(scheduleId) + " (" + pressRelease + ") ended with ";
  if (count == sites.size()) return job + "every site failed (" + of + ") : " + failed;
  return job + of + " sites failed : " + failed;
}

}  // namespace veltrane
