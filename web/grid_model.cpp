#include "web/grid_model.h"

#include <algorithm>
#include <map>

#include "platform/date_text.h"

namespace veltrane::web {

GridModel BuildGrid(const GridFacts& facts, const GridOptions& options) {
  GridModel grid;
  std::map<std::int64_t, std::size_t> column;
  for (const HistoryEntry& job : facts.jobs) {
    column.emplace(job.id, grid.jobs.size());
    grid.jobs.push_back(job.id);
    const std::optional<double> time = StoredTime(job.row.time);
    grid.jobTimes.push_back(time ? DateTimeText(*time) : job.row.time);
  }
  std::map<std::string, std::size_t> rowOf;
  for (const std::string& site : facts.sites) {
    rowOf.emplace(site, grid.rows.size());
    grid.rows.push_back({site, std::vector<GridCell>(grid.jobs.size()), 0, false});
  }
  for (const JobSiteCell& cell : facts.cells) {
    const auto at = column.find(cell.historyId);
    const auto row = rowOf.find(cell.site);
    if (at == column.end() || row == rowOf.end()) continue;
    GridCell& target = grid.rows[row->second].cells[at->second];
    // A site listed twice in a job: a failure there is what an operator must see.
    if (target.state == CellState::Failed) continue;
    target = {cell.completed ? CellState::Completed : CellState::Failed, cell.position,
              cell.reason};
  }
  for (GridRow& row : grid.rows) {
    for (const GridCell& cell : row.cells) row.failures += cell.state == CellState::Failed;
    const auto newest = std::find_if(row.cells.begin(), row.cells.end(), [](const GridCell& cell) {
      return cell.state != CellState::Absent;
    });
    row.failing = newest != row.cells.end() && newest->state == CellState::Failed;
  }
  if (options.failingOnly)
    std::erase_if(grid.rows, [](const GridRow& row) { return !row.failing; });
  if (options.byFailures)
    std::stable_sort(grid.rows.begin(), grid.rows.end(),
                     [](const GridRow& a, const GridRow& b) { return a.failures > b.failures; });
  return grid;
}

}  // namespace veltrane::web
