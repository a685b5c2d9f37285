// The charts and grids of the web view, drawn here as SVG text to be placed
// inside a page (no script, nothing loaded from elsewhere). Every text in
// them is escaped; a cell's reason shows on hover (its <title>). Pure
// functions; any thread.
#pragma once

#include <string>
#include <vector>

#include "storage/history_store.h"
#include "web/grid_model.h"

namespace veltrane::web {

inline constexpr const char* kCompletedColour = "#2e7d32";
inline constexpr const char* kFailedColour = "#c62828";
inline constexpr const char* kAbsentColour = "#e0e0e0";

// A site's outcomes as one cell each, the newest at the right; a cell of a
// job links to the job's page at that site.
std::string OutcomeStrip(const std::vector<SiteOutcome>& newestFirst);

// A site's share of completed outcomes per period (a week), oldest first.
struct RatePoint {
  double from = 0.0;  // the period's first day
  int runs = 0;
  int completed = 0;
};
std::vector<RatePoint> WeeklyRates(const std::vector<SiteOutcome>& outcomes, int weeks);
std::string RateChart(const std::vector<RatePoint>& points);

// Sites (rows) by jobs (columns, newest at the left).
std::string GridChart(const GridModel& grid);

}  // namespace veltrane::web
