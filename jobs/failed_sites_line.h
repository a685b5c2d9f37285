// The trace line that closes a job with failed sites: every failed site with
// its reason on one line, so that the journal alone says what went wrong.
// Pure; the trace gives it warning, or error when every site failed
// (TracePriorityOf).
#pragma once

#include <string>
#include <vector>

#include "model/job_state.h"
#include "platform/schedule_rule.h"

namespace veltrane {

// "Job of schedule 3 (Launch) ended with 2 of 5 sites failed : beta (Timeout);
// gamma (Success string not found)", or "... ended with every site failed
// (3 of 3) : ..." when none completed; "" when no site failed.
std::string FailedSitesLine(ScheduleId scheduleId, const std::string& pressRelease,
                            const std::vector<SiteRecord>& sites);

}  // namespace veltrane
