// The overview: each instance's state, the next runs and the last jobs.
#include <algorithm>

#include "platform/date_text.h"
#include "web/html.h"
#include "web/pages.h"

namespace veltrane::web {
namespace {

std::string Cell(const std::string& html) { return "<td>" + html + "</td>"; }

// "healthy", "polling", "in a job: ...", "stale": what an operator asks first.
std::string InstanceState(const InstanceStatus& instance) {
  if (instance.stale)
    return "<span class=\"stale\">stale</span> since " + DateTimeText(instance.staleSince) +
           " (last refreshed " + DateTimeText(instance.refreshed) + ")";
  if (instance.job) {
    const InstanceJob& job = *instance.job;
    return "<span class=\"busy\">in a job</span>: release " + Escape(job.pressRelease) + ", site " +
           std::to_string(job.siteNumber) + " of " + std::to_string(job.siteCount) +
           ": <a href=\"" + Escape(SiteLink(job.site)) + "\">" + Escape(job.site) + "</a> since " +
           DateTimeText(job.siteSince);
  }
  if (!instance.lastPollError.empty())
    return "<span class=\"bad\">poll failing</span>: " + Escape(instance.lastPollError);
  return "<span class=\"ok\">healthy</span>, polling" +
         (instance.lastPoll ? " (last poll " + DateTimeText(*instance.lastPoll) + ")"
                            : std::string(" (no poll yet)"));
}

std::string Instances(const std::vector<InstanceStatus>& instances) {
  if (instances.empty())
    return "<p class=\"muted\" id=\"no-instance\">No service instance has published its status "
           "in this store.</p>\n";
  std::string html =
      "<table id=\"instances\"><tr><th>Host</th><th>Pid</th><th>Version</th><th>Started</th>"
      "<th>State</th><th>Queued</th><th>Spool</th><th>Last error</th></tr>\n";
  for (const InstanceStatus& instance : instances) {
    std::string queued;
    for (const ScheduleId id : instance.queued)
      queued += (queued.empty() ? "" : ", ") + std::to_string(id);
    std::string error = Escape(instance.lastError);
    if (!instance.lastError.empty() && instance.lastErrorAt)
      error += " <span class=\"muted\">(" + DateTimeText(*instance.lastErrorAt) + ")</span>";
    html += "<tr class=\"instance\">" + Cell(Escape(instance.host)) +
            Cell(std::to_string(instance.pid)) + Cell(Escape(instance.version)) +
            Cell(DateTimeText(instance.started)) + "<td class=\"state\">" +
            InstanceState(instance) + "</td>" + Cell(queued.empty() ? "-" : queued) +
            Cell(std::to_string(instance.spoolBacklog)) + Cell(error.empty() ? "-" : error) +
            "</tr>\n";
  }
  return html + "</table>\n";
}

std::string NextRuns(const std::vector<ScheduleEntry>& schedules, double now) {
  if (schedules.empty()) return "<p class=\"muted\">No schedule is waiting to run.</p>\n";
  std::string html =
      "<table id=\"next-runs\"><tr><th>Schedule</th><th>Next run</th><th>Release</th>"
      "<th>Sites</th></tr>\n";
  for (const ScheduleEntry& schedule : schedules) {
    std::string sites;
    for (const std::string& site : schedule.sites)
      sites += (sites.empty() ? "" : ", ") +
               ("<a href=\"" + Escape(SiteLink(site)) + "\">" + Escape(site) + "</a>");
    html += "<tr>" + Cell(Escape(schedule.id)) +
            Cell(DateTimeText(*schedule.next) + (*schedule.next < now ? " (due)" : "")) +
            Cell(Escape(schedule.name)) + Cell(sites) + "</tr>\n";
  }
  return html + "</table>\n";
}

std::string LastJobs(const std::vector<JobSummary>& jobs) {
  if (jobs.empty()) return "<p class=\"muted\">No job has finished yet.</p>\n";
  std::string html =
      "<table id=\"last-jobs\"><tr><th>Job</th><th>Finished</th><th>Release</th><th>Status</th>"
      "<th>Completed</th><th>Failed</th><th>Sites</th></tr>\n";
  for (const JobSummary& job : jobs) {
    const HistoryRow& row = job.entry.row;
    html += "<tr class=\"job\"><td><a href=\"" + JobLink(job.entry.id) + "\">" +
            std::to_string(job.entry.id) + "</a></td>" +
            Cell(job.time ? DateTimeText(*job.time) : Escape(row.time)) + Cell(Escape(row.name)) +
            "<td class=\"status " + Escape(row.status) + "\">" + Escape(row.status) + "</td>" +
            Cell(job.counted ? std::to_string(job.completed) : "-") +
            Cell(job.counted ? std::to_string(job.failed) : "-") + Cell(Escape(row.subscription)) +
            "</tr>\n";
  }
  return html + "</table>\n";
}

}  // namespace

std::string OverviewPage(const OverviewFacts& facts) {
  const ServiceStatus& status = facts.status;
  const bool inAJob =
      std::any_of(status.instances.begin(), status.instances.end(),
                  [](const InstanceStatus& instance) { return !instance.stale && instance.job; });
  std::string body = "<p class=\"muted\">As of " + DateTimeText(status.now) +
                     (inAJob ? "; this page reloads every " + std::to_string(kRefreshSeconds) +
                                   " seconds while a job runs"
                             : std::string()) +
                     ".</p>\n";
  body += "<h2>Service</h2>\n" + Instances(status.instances);
  body += "<h2>Next runs</h2>\n" + NextRuns(status.nextDue, status.now);
  body += "<h2>Last jobs</h2>\n" + LastJobs(facts.lastJobs);
  return PageFrame("Overview", body, inAJob ? kRefreshSeconds : 0);
}

std::string NotFoundPage(const std::string& what) {
  return PageFrame("Not found", "<p>" + Escape(what) + "</p>\n");
}

}  // namespace veltrane::web
