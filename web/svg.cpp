#include "web/svg.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/date_text.h"
#include "web/html.h"

namespace veltrane::web {
namespace {

constexpr int kCell = 14;
constexpr int kStep = 16;          // a cell and its gap
constexpr int kLabelWidth = 220;   // the grid's site names
constexpr int kHeaderHeight = 18;  // the grid's job numbers
constexpr std::size_t kLabelBytes = 30;

std::string Svg(int width, int height, const std::string& label, const std::string& content) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) +
         " " + std::to_string(height) + "\" role=\"img\" aria-label=\"" + Escape(label) + "\">" +
         content + "</svg>";
}

std::string Rect(int x, int y, int width, int height, const char* fill, const std::string& extra) {
  return "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" fill=\"" + fill +
         "\"" + extra;
}

// A name cut to fit the label column, at a character boundary.
std::string ShortLabel(const std::string& text) {
  if (text.size() <= kLabelBytes) return text;
  std::size_t end = kLabelBytes - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end) + "\xE2\x80\xA6";  // an ellipsis
}

}  // namespace

std::string OutcomeStrip(const std::vector<SiteOutcome>& newestFirst) {
  const int count = static_cast<int>(newestFirst.size());
  std::string cells;
  for (int i = 0; i < count; ++i) {
    const SiteOutcome& outcome = newestFirst[count - 1 - i];  // the oldest at the left
    const SiteRecord& record = outcome.record;
    std::string title = DateTimeText(record.ended) + " " + outcome.pressRelease + ": " +
                        (record.completed ? "completed" : "failed");
    if (!record.reason.empty()) title += " (" + record.reason + ")";
    if (outcome.trial) title += ", a trial";
    const std::string state = record.completed ? "completed" : "failed";
    const std::string rect =
        Rect(i * kStep, 0, kCell, 22, record.completed ? kCompletedColour : kFailedColour,
             " class=\"" + state + "\"" + (outcome.trial ? " fill-opacity=\"0.5\"" : "") +
                 "><title>" + Escape(title) + "</title></rect>");
    if (outcome.historyId)
      cells += "<a href=\"" + JobLink(outcome.historyId) + "#site-" +
               std::to_string(record.position) + "\">" + rect + "</a>";
    else
      cells += rect;
  }
  return Svg(std::max(count * kStep, kStep), 22, "last outcomes, newest at the right", cells);
}

std::vector<RatePoint> WeeklyRates(const std::vector<SiteOutcome>& outcomes, int weeks) {
  std::map<long long, RatePoint> byWeek;
  for (const SiteOutcome& outcome : outcomes) {
    const long long week = static_cast<long long>(std::floor(outcome.record.ended / 7.0));
    RatePoint& point = byWeek[week];
    point.from = static_cast<double>(week * 7);
    ++point.runs;
    point.completed += outcome.record.completed;
  }
  std::vector<RatePoint> points;
  for (const auto& [week, point] : byWeek) points.push_back(point);
  if (static_cast<int>(points.size()) > weeks) points.erase(points.begin(), points.end() - weeks);
  return points;
}

std::string RateChart(const std::vector<RatePoint>& points) {
  constexpr int kWidth = 420, kHeight = 140, kLeft = 40, kTop = 10, kPlotHeight = 100;
  const int plotWidth = kWidth - kLeft - 10;
  std::string content =
      "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + std::to_string(kTop) + "\" x2=\"" +
      std::to_string(kLeft) + "\" y2=\"" + std::to_string(kTop + kPlotHeight) +
      "\" stroke=\"#999\"/><line x1=\"" + std::to_string(kLeft) + "\" y1=\"" +
      std::to_string(kTop + kPlotHeight) + "\" x2=\"" + std::to_string(kWidth - 10) + "\" y2=\"" +
      std::to_string(kTop + kPlotHeight) + "\" stroke=\"#999\"/>" + "<text x=\"2\" y=\"" +
      std::to_string(kTop + 4) + "\" font-size=\"10\">100%</text>" + "<text x=\"14\" y=\"" +
      std::to_string(kTop + kPlotHeight) + "\" font-size=\"10\">0%</text>";
  std::string line;
  const std::size_t count = points.size();
  for (std::size_t i = 0; i < count; ++i) {
    const RatePoint& point = points[i];
    const double rate = static_cast<double>(point.completed) / point.runs;
    const int x =
        kLeft + (count == 1 ? plotWidth / 2 : static_cast<int>(i * plotWidth / (count - 1)));
    const int y = kTop + static_cast<int>(std::lround((1.0 - rate) * kPlotHeight));
    line += (line.empty() ? "" : " ") + std::to_string(x) + "," + std::to_string(y);
    const std::string title = "week of " + DateText(static_cast<int>(point.from)) + ": " +
                              std::to_string(point.completed) + " of " +
                              std::to_string(point.runs) + " completed (" +
                              std::to_string(std::lround(rate * 100)) + "%)";
    content += "<circle class=\"rate\" cx=\"" + std::to_string(x) + "\" cy=\"" + std::to_string(y) +
               "\" r=\"4\" fill=\"" + (rate >= 0.5 ? kCompletedColour : kFailedColour) +
               "\"><title>" + Escape(title) + "</title></circle>";
  }
  if (count > 1)
    content = "<polyline points=\"" + line + "\" fill=\"none\" stroke=\"#546e7a\"/>" + content;
  if (count > 0) {
    content += "<text x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(kHeight - 4) +
               "\" font-size=\"10\">" + DateText(static_cast<int>(points.front().from)) + "</text>";
    if (count > 1)
      content += "<text x=\"" + std::to_string(kWidth - 10) + "\" y=\"" +
                 std::to_string(kHeight - 4) + "\" font-size=\"10\" text-anchor=\"end\">" +
                 DateText(static_cast<int>(points.back().from)) + "</text>";
  }
  return Svg(kWidth, kHeight, "success rate by week", content);
}

std::string GridChart(const GridModel& grid) {
  const int columns = std::max<int>(1, static_cast<int>(grid.jobs.size()));
  const int rows = std::max<int>(1, static_cast<int>(grid.rows.size()));
  const int width = kLabelWidth + columns * kStep;
  const int height = kHeaderHeight + rows * kStep;
  // A site not in a job is a grey cell: one pattern under the whole grid
  // rather than a rectangle each, which would make a big grid's page heavy.
  std::string content = "<defs><pattern id=\"absent\" x=\"" + std::to_string(kLabelWidth) +
                        "\" y=\"" + std::to_string(kHeaderHeight) + "\" width=\"" +
                        std::to_string(kStep) + "\" height=\"" + std::to_string(kStep) +
                        "\" patternUnits=\"userSpaceOnUse\">" +
                        Rect(0, 0, kCell, kCell, kAbsentColour, "/>") + "</pattern></defs>" +
                        Rect(kLabelWidth, kHeaderHeight, columns * kStep,
                             static_cast<int>(grid.rows.size()) * kStep, "url(#absent)", "/>");
  content.reserve(grid.rows.size() * 120 + 4096);
  for (std::size_t column = 0; column < grid.jobs.size(); ++column) {
    const int x = kLabelWidth + static_cast<int>(column) * kStep;
    content += "<a href=\"" + JobLink(grid.jobs[column]) + "\">" +
               Rect(x, 0, kCell, kHeaderHeight - 4, "#90a4ae",
                    "><title>job " + std::to_string(grid.jobs[column]) + ", " +
                        Escape(grid.jobTimes[column]) + "</title></rect>") +
               "</a>";
  }
  content += "<g font-size=\"12\">";
  for (std::size_t row = 0; row < grid.rows.size(); ++row) {
    const GridRow& line = grid.rows[row];
    const int y = kHeaderHeight + static_cast<int>(row) * kStep;
    const std::string label = ShortLabel(line.site);
    content += "<a href=\"" + Escape(SiteLink(line.site)) + "\"><text class=\"site\" x=\"0\" y=\"" +
               std::to_string(y + 11) + "\">" + Escape(label) +
               (label == line.site ? "" : "<title>" + Escape(line.site) + "</title>") +
               "</text></a>";
    for (std::size_t column = 0; column < line.cells.size(); ++column) {
      const GridCell& cell = line.cells[column];
      if (cell.state == CellState::Absent) continue;
      const int x = kLabelWidth + static_cast<int>(column) * kStep;
      const bool completed = cell.state == CellState::Completed;
      std::string title = line.site + ", job " + std::to_string(grid.jobs[column]) + ": " +
                          (completed ? "completed" : "failed");
      if (!cell.reason.empty()) title += " (" + cell.reason + ")";
      content += "<a href=\"" + JobLink(grid.jobs[column]) + "#site-" +
                 std::to_string(cell.position) + "\">" +
                 Rect(x, y, kCell, kCell, completed ? kCompletedColour : kFailedColour,
                      std::string(" class=\"") + (completed ? "completed" : "failed") +
                          "\"><title>" + Escape(title) + "</title></rect>") +
                 "</a>";
    }
  }
  content += "</g>";
  return Svg(width, height, "sites by recent jobs", content);
}

}  // namespace veltrane::web
