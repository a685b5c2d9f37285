// What the job journal says about the sites: those failing now ('site list
// --failing') and each site's record over a period ('site stats'), as text
// or as JSON, from the store's JournalReport.
#pragma once

#include "admin/admin_context.h"

namespace veltrane::admin {

// How many newest outcomes in a row must have failed when --runs is not given.
inline constexpr int kFailingRuns = 1;

// The sites that are still there and whose newest `runs` outcomes failed.
void PrintFailingSites(AdminContext& context, int runs, bool json);

}  // namespace veltrane::admin
