// Sites at a glance: the grid with its sort and filter links (no script).
#include "web/html.h"
#include "web/pages.h"
#include "web/svg.h"

namespace veltrane::web {
namespace {

std::string GridLink(const GridOptions& options, int jobs) {
  std::string link = "/grid?jobs=" + std::to_string(jobs);
  if (options.byFailures) link += "&amp;sort=failures";
  if (options.failingOnly) link += "&amp;failing=1";
  return link;
}

}  // namespace

std::string GridPage(const GridModel& grid, const GridOptions& options, int jobs) {
  GridOptions sorted = options, filtered = options;
  sorted.byFailures = !options.byFailures;
  filtered.failingOnly = !options.failingOnly;
  std::string body = "<p id=\"grid-controls\"><a id=\"sort\" href=\"" + GridLink(sorted, jobs) +
                     "\">" + (options.byFailures ? "Sort by name" : "Sort by failures") +
                     "</a> | <a id=\"filter\" href=\"" + GridLink(filtered, jobs) + "\">" +
                     (options.failingOnly ? "All sites" : "Failing sites only") + "</a></p>\n";
  body += "<p class=\"muted\"><span id=\"row-count\">" + std::to_string(grid.rows.size()) +
          "</span> sites" + (options.failingOnly ? " whose newest outcome here failed" : "") +
          ", the last " + std::to_string(grid.jobs.size()) +
          " jobs, newest at the left; a cell opens the site's evidence in that job, a name the "
          "site.</p>\n";
  body += "<div id=\"grid\">" + GridChart(grid) + "</div>\n";
  return PageFrame(options.failingOnly ? "Failing sites" : "Sites at a glance", body);
}

}  // namespace veltrane::web
