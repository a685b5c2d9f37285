// The grid of sites by recent jobs as plain data, from what the journal
// says: one row per site, one column per job (newest first), each cell the
// site's outcome in that job or none. Rows can be sorted by their failures
// and cut down to the failing sites: those whose newest outcome shown
// failed. Pure; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/web_facts.h"

namespace veltrane::web {

enum class CellState { Absent, Completed, Failed };

struct GridCell {
  CellState state = CellState::Absent;
  int position = 0;  // the site's place in the job, for the link to its evidence
  std::string reason;
};

struct GridRow {
  std::string site;
  std::vector<GridCell> cells;  // one per column
  int failures = 0;             // failed cells in the row
  bool failing = false;         // its newest outcome shown failed
};

struct GridModel {
  std::vector<std::int64_t> jobs;  // the columns' history ids, newest first
  std::vector<std::string> jobTimes;
  std::vector<GridRow> rows;
};

struct GridOptions {
  bool byFailures = false;  // most failures first (then by name); else by name
  bool failingOnly = false;
};

GridModel BuildGrid(const GridFacts& facts, const GridOptions& options);

}  // namespace veltrane::web
