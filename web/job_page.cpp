// A job's page: its report as written, then each site's evidence with its
// failure screenshot.
#include "platform/date_text.h"
#include "web/html.h"
#include "web/pages.h"
#include "web/shot_files.h"

namespace veltrane::web {
namespace {

std::string Row(const char* label, const std::string& html) {
  return "<tr><th>" + std::string(label) + "</th><td>" + html + "</td></tr>";
}

std::string Evidence(long long historyId, const SiteOutcome& outcome) {
  const SiteRecord& record = outcome.record;
  const SiteEvidence& evidence = record.evidence;
  const std::string anchor = "site-" + std::to_string(record.position);
  std::string html = "<section class=\"site\" id=\"" + anchor + "\"><h2><a href=\"" +
                     Escape(SiteLink(record.site)) + "\">" + Escape(record.site) +
                     "</a>: " + "<span class=\"outcome " +
                     (record.completed ? "Completed" : "Failed") + "\">" +
                     (record.completed ? "completed" : "failed") + "</span></h2><table>";
  if (!record.completed)
    html += Row("Reason", "<span class=\"reason\">" + Escape(record.reason) + "</span>");
  html += Row("Last address", record.lastUrl.empty() ? std::string("none")
                                                     : "<span class=\"last-url\">" +
                                                           Escape(record.lastUrl) + "</span>");
  // A page that did not load has no HTTP status, only the engine's message.
  html += evidence.networkError.empty() ? Row("HTTP status", std::to_string(evidence.lastStatus))
                                        : Row("Network error", Escape(evidence.networkError));
  html += Row("Pages loaded", std::to_string(evidence.pages));
  if (!evidence.successText.empty())
    html += Row("Success text", "\"" + Escape(evidence.successText) + "\" " +
                                    (record.completed ? "found" : "looked for, not found"));
  if (!evidence.notes.empty()) html += Row("Notes", Escape(evidence.notes));
  html += Row("Ran", DateTimeText(record.started) + " to " + DateTimeText(record.ended));
  html += "</table>";
  if (IsServableShot(evidence.screenshot))
    html += "<p><img class=\"shot\" alt=\"the page when " + Escape(record.site) +
            " failed\" src=\"/shot?job=" + std::to_string(historyId) +
            "&amp;position=" + std::to_string(record.position) + "\"></p>";
  else if (!evidence.screenshot.empty())
    html += "<p class=\"muted\">Screenshot " + Escape(evidence.screenshot) +
            " is not in the screenshot folder.</p>";
  return html + "</section>\n";
}

}  // namespace

std::string JobPage(const JobFacts& facts) {
  const HistoryRow& row = facts.entry.row;
  std::string body = "<p>Release " + Escape(row.name) + ", finished " +
                     (facts.time ? DateTimeText(*facts.time) : Escape(row.time)) +
                     ", status <span class=\"status " + Escape(row.status) + "\">" +
                     Escape(row.status) + "</span>.</p>\n";
  body += "<h2>Report</h2>\n<pre id=\"report\">" + Escape(row.content) + "</pre>\n";
  body += "<h2>Sites</h2>\n";
  if (facts.sites.empty())
    body += "<p class=\"muted\">The journal holds no evidence for this job.</p>\n";
  for (const SiteOutcome& outcome : facts.sites) body += Evidence(facts.entry.id, outcome);
  return PageFrame("Job " + std::to_string(facts.entry.id), body);
}

}  // namespace veltrane::web
