// JournalReport: read-only questions put to the history table and the job
// journal, answered the same on the SQLite files and on a server: the
// finished jobs newest first, the sites that are failing now, and each
// site's record over a period. The command-line tool prints these facts; a
// web view reads the same. A site's outcomes are its job_site rows, trials
// sent by 'site try --submit' among them. Plain values out; every failure is
// a StorageError; each call stands alone and changes nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/database_files.h"
#include "storage/history_store.h"
#include "storage/sqlite_stores.h"

namespace veltrane {

struct HistoryFilter {
  int limit = 0;                // at most this many rows; 0: every row
  std::optional<double> since;  // a day number: rows written at or after it
  bool failedOnly = false;      // rows of jobs in which a site failed (status Failed or Partial)
};

// A site whose latest outcomes failed, back to the last time it completed.
struct FailingSite {
  std::string site;
  int failuresInARow = 0;
  std::optional<double> lastCompleted;  // none: it never completed
  // Its newest outcome.
  double lastEnded = 0.0;
  std::string lastReason;
  std::string lastUrl;
  std::string lastScreenshot;  // a file name in the shots directory; "" when none
};

// A site's outcome in a finished job, as a grid of sites by jobs shows it.
struct JobSiteCell {
  std::int64_t historyId = 0;
  int position = 0;  // the site's place in the job's site list, from 0
  std::string site;
  bool completed = false;
  std::string reason;
};

// A site's outcomes that ended in a period.
struct SiteStats {
  std::string site;
  int runs = 0;
  int completed = 0;
  int failed = 0;
  std::string commonReason;  // its most common reason for failing (the newest of equals)
  int commonReasonCount = 0;
};

class JournalReport {
 public:
  virtual ~JournalReport() = default;

  // History rows, newest first (the order they were written), without their
  // report text. A row whose time cannot be read is left out by `since`.
  virtual std::vector<HistoryEntry> History(const HistoryFilter& filter) = 0;
  // The sites whose newest `runs` outcomes (or more) all failed, by name.
  virtual std::vector<FailingSite> FailingSites(int runs) = 0;
  // Every site with an outcome that ended at or after `since` (a day number), by name.
  virtual std::vector<SiteStats> Stats(double since) = 0;
  // The outcomes of the jobs whose history rows are `historyIds`, by row
  // and position; none for a row without a job in the journal.
  virtual std::vector<JobSiteCell> JobCells(const std::vector<std::int64_t>& historyIds) = 0;
};

// Over the main database of `paths`: the main file, or the server.
std::unique_ptr<JournalReport> MakeJournalReport(const DatabasePaths& paths,
                                                 SqliteStoreOptions options = {});

}  // namespace veltrane
