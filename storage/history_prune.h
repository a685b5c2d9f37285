// PruneHistory: what the history keeps no longer than a given time. It
// removes the history rows written before `before` (a day number), the
// journal's jobs of those rows with their sites' outcomes, the finished jobs
// that have no history row (trials, dropped jobs) that finished before it,
// and the screenshots those outcomes name: files directly in the shots
// folder, and no other file. A job that has not finished is never touched,
// nor a row whose time cannot be read. The rows go in batches, each in a
// transaction of its own, so that a job's writes never wait long; a file is
// deleted only once its rows' removal has committed. veltrane-admin's
// 'history prune' and the service's daily prune both run it. Every failure
// is a StorageError (what was removed before it stays removed).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "storage/database_files.h"
#include "storage/sqlite_stores.h"

namespace veltrane {

struct PruneResult {
  std::vector<std::int64_t> historyIds;  // the history rows removed, in id order
  int jobs = 0;                          // the journal's jobs removed
  int siteOutcomes = 0;                  // their sites' outcomes
  std::vector<std::string> screenshots;  // the files removed, as full paths
  int unreadableTimes = 0;               // rows kept since their time cannot be read

  bool Empty() const { return historyIds.empty() && jobs == 0 && screenshots.empty(); }
};

struct PruneOptions {
  std::string shotsDirectory;  // where the service keeps its screenshots
  int batch = 100;             // rows removed per transaction
  // Called before each batch; false stops the prune there. None: every batch runs.
  std::function<bool()> beforeBatch;
};

PruneResult PruneHistory(const DatabasePaths& paths, SqliteStoreOptions storeOptions, double before,
                         const PruneOptions& options);

// "1-3, 7, 9-10": ids in ascending order as ranges.
std::string IdRangesText(const std::vector<std::int64_t>& ids);

}  // namespace veltrane
