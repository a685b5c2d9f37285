// The prune, written once over the seam. A history row's time is the text
// of a day number, with a point or a comma, so rows are chosen here rather
// than by SQL. A history row's jobs are found by their history_id.
#include "storage/history_prune.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/number_text.h"
#include "storage/postgres/pg_session.h"
#include "storage/sqlite_database.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

// "?,?,?" for `count` values.
std::string Placeholders(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += i ? ",?" : "?";
  return text;
}

sql::Values ValuesOf(const std::vector<std::int64_t>& ids) {
  return sql::Values(ids.begin(), ids.end());
}

std::vector<std::int64_t> Ids(const sql::Rows& rows) {
  std::vector<std::int64_t> ids;
  for (int row = 0; row < rows.Count(); ++row) ids.push_back(rows.Integer(row, 0));
  return ids;
}

// A screenshot the journal names, as a file directly in the shots folder;
// anything else (a path, a trial's picture elsewhere) is never deleted.
bool IsShotFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

class Pruner {
 public:
  Pruner(DatabaseRef database, double before, const PruneOptions& options)
      : database_(std::move(database)), before_(before), options_(options) {}

  PruneResult Run() {
    std::vector<std::int64_t> old;
    {
      const auto db = database_->Open(sql::Access::Read);
      db->RequireTables({"history"});
      const std::set<std::string> job = db->Columns("job");
      journal_ = !job.empty() && !db->Columns("job_site").empty();
      linked_ = job.count("history_id") > 0;
      shots_ = db->Columns("job_site").count("screenshot") > 0;
      historyId_ = db->InsertionOrder("", "id");
      const sql::Rows rows =
          db->Query("SELECT " + historyId_ + ", time FROM history ORDER BY " + historyId_);
      for (int row = 0; row < rows.Count(); ++row) {
        const std::optional<double> time = ParseNumberText(rows.Text(row, 1));
        if (!time)
          ++result_.unreadableTimes;
        else if (*time < before_)
          old.push_back(rows.Integer(row, 0));
      }
    }
    const std::size_t batch = static_cast<std::size_t>(std::max(options_.batch, 1));
    for (std::size_t at = 0; at < old.size(); at += batch) {
      if (!MayGoOn()) return result_;
      RemoveHistoryBatch({old.begin() + at, old.begin() + std::min(old.size(), at + batch)});
    }
    if (!journal_) return result_;
    // Then the finished jobs that have no history row: trials, dropped jobs,
    // and those whose row went before.
    for (;;) {
      if (!MayGoOn()) return result_;
      if (RemoveJobsWithoutHistory(batch) < batch) return result_;
    }
  }

 private:
  bool MayGoOn() const { return !options_.beforeBatch || options_.beforeBatch(); }

  void RemoveHistoryBatch(const std::vector<std::int64_t>& ids) {
    const auto db = database_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    std::vector<std::int64_t> jobs;
    if (journal_ && linked_)
      jobs = Ids(db->Query("SELECT id FROM job WHERE finished IS NOT NULL AND history_id IN (" +
                               Placeholders(ids.size()) + ")",
                           ValuesOf(ids)));
    const std::vector<std::string> shots = RemoveJobs(*db, jobs);
    db->Execute(
        "DELETE FROM history WHERE " + historyId_ + " IN (" + Placeholders(ids.size()) + ")",
        ValuesOf(ids));
    transaction.Commit();
    result_.historyIds.insert(result_.historyIds.end(), ids.begin(), ids.end());
    RemoveShots(shots);
  }

  // Gives how many jobs it removed.
  std::size_t RemoveJobsWithoutHistory(std::size_t batch) {
    const auto db = database_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    const std::string withoutRow =
        linked_ ? " AND (history_id IS NULL OR NOT EXISTS (SELECT 1 FROM history h WHERE h." +
                      historyId_ + " = job.history_id))"
                : "";
    const std::vector<std::int64_t> jobs =
        Ids(db->Query("SELECT id FROM job WHERE finished IS NOT NULL AND finished < ?" +
                          withoutRow + " ORDER BY id LIMIT ?",
                      {before_, static_cast<std::int64_t>(batch)}));
    const std::vector<std::string> shots = RemoveJobs(*db, jobs);
    transaction.Commit();
    RemoveShots(shots);
    return jobs.size();
  }

  // Deletes the jobs and their sites' outcomes; gives the screenshots those named.
  std::vector<std::string> RemoveJobs(sql::Session& db, const std::vector<std::int64_t>& jobs) {
    if (jobs.empty()) return {};
    const std::string in = " IN (" + Placeholders(jobs.size()) + ")";
    std::vector<std::string> shots;
    if (shots_) {
      const sql::Rows named = db.Query("SELECT screenshot FROM job_site WHERE job_id" + in +
                                           " AND screenshot IS NOT NULL AND screenshot <> ''",
                                       ValuesOf(jobs));
      for (int row = 0; row < named.Count(); ++row) shots.push_back(named.Text(row, 0));
    }
    result_.siteOutcomes += db.Execute("DELETE FROM job_site WHERE job_id" + in, ValuesOf(jobs));
    result_.jobs += db.Execute("DELETE FROM job WHERE id" + in, ValuesOf(jobs));
    return shots;
  }

  // Deletes the files of `names` that no outcome still names.
  void RemoveShots(const std::vector<std::string>& names) {
    if (options_.shotsDirectory.empty() || names.empty()) return;
    const auto db = database_->Open(sql::Access::Read);
    for (const std::string& name : std::set<std::string>(names.begin(), names.end())) {
      if (!IsShotFileName(name)) continue;
      if (!db->Query("SELECT 1 FROM job_site WHERE screenshot = ?", {name}).Empty()) continue;
      const std::filesystem::path path = std::filesystem::path(options_.shotsDirectory) / name;
      std::error_code error;
      // A link is not followed, nor removed: only the service's own files go.
      if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error))) continue;
      if (std::filesystem::remove(path, error)) result_.screenshots.push_back(path.string());
    }
  }

  DatabaseRef database_;
  double before_;
  const PruneOptions& options_;
  PruneResult result_;
  bool journal_ = false;  // the job and job_site tables are there
  bool linked_ = false;   // jobs know their history row
  bool shots_ = false;    // outcomes name their screenshot
  std::string historyId_;
};

}  // namespace

PruneResult PruneHistory(const DatabasePaths& paths, SqliteStoreOptions storeOptions, double before,
                         const PruneOptions& options) {
  DatabaseRef database = paths.server.empty() ? MakeSqliteDatabase(paths.main, storeOptions)
                                              : MakeServerDatabase(paths.server);
  return Pruner(std::move(database), before, options).Run();
}

std::string IdRangesText(const std::vector<std::int64_t>& ids) {
  std::string text;
  for (std::size_t at = 0; at < ids.size();) {
    std::size_t end = at;
    while (end + 1 < ids.size() && ids[end + 1] == ids[end] + 1) ++end;
    text += (text.empty() ? "" : ", ") + std::to_string(ids[at]);
    if (end > at) text += "-" + std::to_string(ids[end]);
    at = end + 1;
  }
  return text;
}

}  // namespace veltrane
