// WebFacts: what each page of the web view shows, read from the service's
// stores through the same readers as veltrane-admin's lists (JournalReport,
// HistoryStore, SiteStore); the instances' status comes from the caller, who
// reads it as 'veltrane-admin status' does. Plain values out, nothing written. Every call opens
// what it needs and lets it go, so a running service is never held up; a failure is a StorageError.
// One thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "storage/database_files.h"
#include "storage/history_store.h"
#include "storage/instance_status.h"
#include "storage/journal_report.h"
#include "storage/schedule_store.h"
#include "storage/site_store.h"

namespace veltrane::web {

// A finished job with its sites' counts (from the journal; from the row's
// site list alone for a job the journal does not know).
struct JobSummary {
  HistoryEntry entry;
  std::optional<double> time;
  int sites = 0;
  int completed = 0;
  int failed = 0;
  bool counted = false;  // the counts come from the journal
};

// The instances and the next runs, as 'veltrane-admin status' reads them.
struct ServiceStatus {
  double now = 0.0;  // on the store's time base
  std::vector<InstanceStatus> instances;
  std::vector<ScheduleEntry> nextDue;  // the next schedules to run, soonest first
};

struct OverviewFacts {
  ServiceStatus status;
  std::vector<JobSummary> lastJobs;  // newest first
};

struct JobFacts {
  HistoryEntry entry;  // with its report
  std::optional<double> time;
  std::vector<SiteOutcome> sites;  // in the job's site order
};

struct SiteFacts {
  std::string name;
  std::optional<SiteEntry> site;      // none: no longer among the sites
  std::vector<SiteOutcome> outcomes;  // newest first
};

struct GridFacts {
  std::vector<HistoryEntry> jobs;  // the columns, newest first
  std::vector<std::string> sites;  // the rows: every site there, and those in the jobs shown
  std::vector<JobSiteCell> cells;
};

class WebFacts {
 public:
  explicit WebFacts(DatabasePaths paths) : paths_(std::move(paths)) {}

  // The last `jobs` finished jobs with their counts.
  std::vector<JobSummary> LastJobs(int jobs) const;
  std::optional<JobFacts> Job(std::int64_t historyId) const;
  SiteFacts Site(const std::string& name, int outcomes) const;
  GridFacts Grid(int jobs) const;

 private:
  DatabasePaths paths_;
};

// A history row's time, the text of a day number with a point or a comma.
std::optional<double> StoredTime(const std::string& text);

}  // namespace veltrane::web
