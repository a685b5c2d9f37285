// The removals, written once over the seam. On the files the main file's
// write lock (taken at BEGIN) keeps the schedule thread from queueing a job
// between the check and the change. On a server a schedule's row is locked
// (a claim skips a locked row, and one that holds it is waited for and then
// seen); a site or a release locks the job table against new jobs instead,
// and locks no schedule row, so that it never waits on a claim that waits on it.
#include "storage/item_removal.h"

#include <algorithm>
#include <set>

#include "platform/text_lists.h"
#include "storage/postgres/pg_session.h"
#include "storage/schema.h"
#include "storage/sqlite_database.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

// An unfinished job with what it uses: its own release and sites once it
// has started, its schedule's before.
struct UnfinishedJob {
  std::int64_t id = 0;
  std::int64_t scheduleId = 0;
  std::string release;
  std::vector<std::string> sites;
};

std::vector<UnfinishedJob> UnfinishedJobs(sql::Session& db) {
  // A file made before the journal has no jobs to wait for.
  if (db.Columns("job").empty()) return {};
  const sql::Rows rows = db.Query(
      "SELECT j.id, j.schedule_id, j.name, j.subscription, s.name, s.subscription "
      "FROM job j LEFT JOIN schedule s ON s.id = j.schedule_id "
      "WHERE j.finished IS NULL ORDER BY j.id");
  std::vector<UnfinishedJob> jobs;
  for (int row = 0; row < rows.Count(); ++row) {
    UnfinishedJob job;
    job.id = rows.Integer(row, 0);
    job.scheduleId = rows.Integer(row, 1);
    job.release = rows.IsNull(row, 2) ? rows.Text(row, 4) : rows.Text(row, 2);
    job.sites = SplitLines(rows.IsNull(row, 3) ? rows.Text(row, 5) : rows.Text(row, 3));
    jobs.push_back(std::move(job));
  }
  return jobs;
}

template <typename Uses>
std::vector<std::int64_t> JobsThat(sql::Session& db, Uses uses) {
  std::vector<std::int64_t> ids;
  for (const UnfinishedJob& job : UnfinishedJobs(db))
    if (uses(job)) ids.push_back(job.id);
  return ids;
}

bool Lists(const std::vector<std::string>& sites, const std::string& site) {
  return std::find(sites.begin(), sites.end(), site) != sites.end();
}

// The ids of the schedules whose site list holds `site`, in id order.
std::vector<std::string> SchedulesListing(sql::Session& db, const std::string& site) {
  const sql::Rows rows = db.Query("SELECT id, subscription FROM schedule ORDER BY id");
  std::vector<std::string> ids;
  for (int row = 0; row < rows.Count(); ++row)
    if (Lists(SplitLines(rows.Text(row, 1)), site)) ids.push_back(rows.Text(row, 0));
  return ids;
}

std::vector<std::string> SchedulesOfRelease(sql::Session& db, const std::string& release) {
  const sql::Rows rows = db.Query("SELECT id FROM schedule WHERE name = ? ORDER BY id", {release});
  std::vector<std::string> ids;
  for (int row = 0; row < rows.Count(); ++row) ids.push_back(rows.Text(row, 0));
  return ids;
}

// Keeps jobs from being recorded or started until the transaction ends.
void LockJobs(sql::Session& db) {
  if (db.Shared() && !db.Columns("job").empty()) db.LockForAdding("job");
}

Removal Refused(std::vector<std::int64_t> jobs) {
  Removal removal;
  removal.outcome = Removal::Outcome::InRunningJob;
  removal.jobs = std::move(jobs);
  return removal;
}

Removal Missing() {
  Removal removal;
  removal.outcome = Removal::Outcome::Missing;
  return removal;
}

class RemovalOver : public ItemRemoval {
 public:
  RemovalOver(DatabaseRef main, DatabaseRef sites)
      : main_(std::move(main)), sites_(std::move(sites)) {}

  Removal RemoveSchedule(ScheduleId id) override {
    return ChangeSchedule(id, "DELETE FROM schedule WHERE id = ?", {id});
  }

  Removal SetScheduleDisabled(ScheduleId id, bool disabled) override {
    bool marks = false;
    {
      // Added in a statement of its own: on a server, a table change inside
      // the transaction could wait on a claim that waits on the transaction.
      const auto db = main_->Open(sql::Access::Write);
      std::set<std::string> columns = db->Columns("schedule");
      if (disabled && !columns.empty() && !columns.count("disabled")) {
        for (const schema::AddedColumn& column : schema::AddedScheduleColumns(db->Dialect()))
          db->Execute(column.add);
        columns = db->Columns("schedule");
      }
      marks = columns.count("disabled") > 0;
    }
    // Without the mark every schedule is enabled: only the checks are left.
    if (!marks) return ChangeSchedule(id, "", {});
    return ChangeSchedule(id, "UPDATE schedule SET disabled = ? WHERE id = ?",
                          {disabled ? sql::Value(1) : sql::Value(nullptr), id});
  }

  Removal RemoveSite(const std::string& site) override {
    const char* findSite = "SELECT 1 FROM subscription WHERE name = ?";
    if (sites_->Open(sql::Access::Read)->Query(findSite, {site}).Empty()) return Missing();
    const auto db = main_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    LockJobs(*db);
    Removal removal;
    removal.jobs = JobsThat(*db, [&](const UnfinishedJob& job) { return Lists(job.sites, site); });
    if (!removal.jobs.empty()) return Refused(std::move(removal.jobs));
    removal.schedules = SchedulesListing(*db, site);
    db->Execute("DELETE FROM account WHERE name = ?", {site});
    // On a server the sites are in the same database: one transaction holds both.
    const char* deleteSite = "DELETE FROM subscription WHERE name = ?";
    const int deleted = db->Shared()
                            ? db->Execute(deleteSite, {site})
                            : sites_->Open(sql::Access::Write)->Execute(deleteSite, {site});
    if (deleted == 0) return Missing();
    transaction.Commit();
    return removal;
  }

  Removal RemoveRelease(const std::string& release, bool force) override {
    const auto db = main_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    LockJobs(*db);
    if (db->Query("SELECT 1 FROM pressrelease WHERE name = ?", {release}).Empty()) return Missing();
    Removal removal;
    removal.jobs = JobsThat(*db, [&](const UnfinishedJob& job) { return job.release == release; });
    if (!removal.jobs.empty()) return Refused(std::move(removal.jobs));
    removal.schedules = SchedulesOfRelease(*db, release);
    if (!removal.schedules.empty() && !force) {
      removal.outcome = Removal::Outcome::ReferredTo;
      return removal;
    }
    db->Execute("DELETE FROM pressrelease WHERE name = ?", {release});
    transaction.Commit();
    return removal;
  }

 private:
  // Locks the schedule's row, checks that no unfinished job is of it, and
  // runs `change` (none: only the checks).
  Removal ChangeSchedule(ScheduleId id, const char* change, const sql::Values& params) {
    const auto db = main_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    if (db->Query(std::string("SELECT 1 FROM schedule WHERE id = ?") +
                      (db->Shared() ? " FOR UPDATE" : ""),
                  {id})
            .Empty())
      return Missing();
    std::vector<std::int64_t> jobs =
        JobsThat(*db, [&](const UnfinishedJob& job) { return job.scheduleId == id; });
    if (!jobs.empty()) return Refused(std::move(jobs));
    if (*change) db->Execute(change, params);
    transaction.Commit();
    return {};
  }

  DatabaseRef main_;
  DatabaseRef sites_;
};

}  // namespace

std::unique_ptr<ItemRemoval> MakeItemRemoval(const DatabasePaths& paths,
                                             SqliteStoreOptions options) {
  if (!paths.server.empty()) {
    DatabaseRef server = MakeServerDatabase(paths.server);
    return std::make_unique<RemovalOver>(server, server);
  }
  return std::make_unique<RemovalOver>(MakeSqliteDatabase(paths.main, options),
                                       MakeSqliteDatabase(paths.subscription, options));
}

}  // namespace veltrane
