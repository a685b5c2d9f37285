// The pages of the web view as HTML, from the facts WebFacts read. Every
// text from a site or a person is escaped; pictures are the server's own
// /shot addresses; nothing else is loaded. Pure functions; any thread.
#pragma once

#include <string>

#include "web/grid_model.h"
#include "web/web_facts.h"

namespace veltrane::web {

// How often the overview reloads itself while an instance runs a job.
inline constexpr int kRefreshSeconds = 5;
// How many outcomes the site page reads: its strip shows the newest of them.
inline constexpr int kSiteOutcomes = 1000;
inline constexpr int kStripCells = 40;
inline constexpr int kChartWeeks = 26;

std::string OverviewPage(const OverviewFacts& facts);
std::string JobPage(const JobFacts& facts);
std::string SitePage(const SiteFacts& facts);
std::string GridPage(const GridModel& grid, const GridOptions& options, int jobs);
// A page that says what is not there ("no history row 12").
std::string NotFoundPage(const std::string& what);

}  // namespace veltrane::web
