// A site's page: its strip of last outcomes, its success rate by week, when it
// last completed, its form-change warnings, its last screenshot and script.
#include <algorithm>
#include <set>

#include "platform/date_text.h"
#include "web/html.h"
#include "web/pages.h"
#include "web/shot_files.h"
#include "web/svg.h"

namespace veltrane::web {
namespace {

std::string LastCompleted(const std::vector<SiteOutcome>& outcomes) {
  const auto completed = std::find_if(outcomes.begin(), outcomes.end(),
                                      [](const SiteOutcome& o) { return o.record.completed; });
  if (completed != outcomes.end()) return DateTimeText(completed->record.ended);
  if (outcomes.empty()) return "never (no outcome recorded)";
  return "not in its last " + std::to_string(outcomes.size()) +
         (outcomes.size() == 1 ? " outcome" : " outcomes");
}

std::string FormWarnings(const std::vector<SiteOutcome>& outcomes) {
  std::string items;
  std::set<std::string> seen;
  for (const SiteOutcome& outcome : outcomes) {
    const std::string& notes = outcome.record.evidence.notes;
    if (notes.find("form changed") == std::string::npos || !seen.insert(notes).second) continue;
    items += "<li>" + DateTimeText(outcome.record.ended) + ": " + Escape(notes) + "</li>";
    if (seen.size() == 10) break;
  }
  if (items.empty()) return "<p class=\"muted\">None.</p>\n";
  return "<ul id=\"form-warnings\">" + items + "</ul>\n";
}

}  // namespace

std::string SitePage(const SiteFacts& facts) {
  const std::vector<SiteOutcome>& outcomes = facts.outcomes;
  std::string body;
  if (facts.site)
    body += "<p>Start address <span class=\"url\">" + Escape(facts.site->url) + "</span>" +
            (facts.site->account ? ", account " + Escape(facts.site->account->user) : "") +
            ".</p>\n";
  else
    body += "<p class=\"bad\">This site is no longer among the sites.</p>\n";

  body += "<h2>Last outcomes</h2>\n";
  const std::vector<SiteOutcome> strip(
      outcomes.begin(), outcomes.begin() + std::min<std::size_t>(outcomes.size(), kStripCells));
  body += strip.empty() ? "<p class=\"muted\">No outcome recorded.</p>\n"
                        : "<div id=\"strip\">" + OutcomeStrip(strip) + "</div>\n";
  body +=
      "<p>Last completed: <span id=\"last-completed\">" + LastCompleted(outcomes) + "</span></p>\n";
  if (!outcomes.empty())
    body += "<h2>Success rate by week</h2>\n<div id=\"chart\">" +
            RateChart(WeeklyRates(outcomes, kChartWeeks)) + "</div>\n";
  body += "<h2>Form-change warnings</h2>\n" + FormWarnings(outcomes);

  body += "<h2>Last screenshot</h2>\n";
  const auto shot = std::find_if(outcomes.begin(), outcomes.end(), [](const SiteOutcome& o) {
    return IsServableShot(o.record.evidence.screenshot);
  });
  if (shot == outcomes.end())
    body += "<p class=\"muted\">None.</p>\n";
  else
    body += "<p>" + DateTimeText(shot->record.ended) + ": " + Escape(shot->record.reason) +
            "</p><p><img class=\"shot\" alt=\"the page when the site last failed\" src=\"/shot?"
            "site=" +
            QueryValue(facts.name) + "\"></p>\n";

  // The script holds placeholders such as $$password$$, never a password.
  if (facts.site)
    body += "<h2>Script</h2>\n<pre id=\"script\">" + Escape(facts.site->script) + "</pre>\n";
  return PageFrame("Site " + facts.name, body);
}

}  // namespace veltrane::web
