// The instance table, read and written once over the seam. Its times are
// the store's: the server's local time on a server, this machine's local
// time (as SQLite reads it) on the files, so that every instance's row and
// the reader's "now" share one clock.
#include "storage/instance_status.h"

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "storage/postgres/pg_session.h"
#include "storage/schema.h"
#include "storage/sqlite_database.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

// The store's local time now as a day number (days since 1899-12-30).
std::string StoreNow(const sql::Session& db) {
  if (db.Dialect() == sql::Dialect::Postgres) return schema::kServerLocalDay;
  return "(julianday('now', 'localtime') - 2415018.5)";
}

double QueryStoreNow(sql::Session& db) { return db.Query("SELECT " + StoreNow(db)).Real(0, 0); }

std::string QueuedText(const std::vector<ScheduleId>& queued) {
  std::string text;
  for (const ScheduleId id : queued) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}

std::vector<ScheduleId> QueuedIds(const std::string& text) {
  std::vector<ScheduleId> ids;
  const char* at = text.c_str();
  while (*at) {
    char* end = nullptr;
    const long long id = std::strtoll(at, &end, 10);
    if (end == at) break;
    ids.push_back(id);
    at = *end == ',' ? end + 1 : end;
  }
  return ids;
}

DatabaseRef MainDatabase(const DatabasePaths& paths, SqliteStoreOptions options) {
  return paths.server.empty() ? MakeSqliteDatabase(paths.main, options)
                              : MakeServerDatabase(paths.server);
}

class InstanceStatusReaderOver : public InstanceStatusReader {
 public:
  explicit InstanceStatusReaderOver(DatabaseRef database) : database_(std::move(database)) {}

  std::vector<InstanceStatus> Instances() override {
    const auto db = database_->Open(sql::Access::Read);
    // A store made before the table: no instance has published anything there.
    if (db->Columns("instance").empty()) return {};
    const sql::Rows rows = db->Query(
        "SELECT i.instance, i.host, i.pid, i.version, i.started, i.refreshed, i.stale_after, "
        "i.last_poll, i.last_poll_error, i.job_schedule, s.name, i.job_release, "
        "i.job_site_number, i.job_site_count, i.job_site, i.job_site_since, i.queued, "
        "i.spool_backlog, i.last_error, i.last_error_at, " +
        StoreNow(*db) +
        " AS now FROM instance i LEFT JOIN schedule s ON s.id = i.job_schedule "
        "ORDER BY i.started DESC, i.instance");
    std::vector<InstanceStatus> instances;
    for (int row = 0; row < rows.Count(); ++row) {
      InstanceStatus status;
      status.instance = rows.Text(row, 0);
      status.host = rows.Text(row, 1);
      status.pid = rows.Integer(row, 2);
      status.version = rows.Text(row, 3);
      status.started = rows.Real(row, 4);
      status.refreshed = rows.Real(row, 5);
      status.staleLimit = rows.Real(row, 6);
      if (!rows.IsNull(row, 7)) status.lastPoll = rows.Real(row, 7);
      status.lastPollError = rows.Text(row, 8);
      if (!rows.IsNull(row, 9)) {
        InstanceJob job;
        job.schedule = rows.Integer(row, 9);
        job.scheduleName = rows.Text(row, 10);
        job.pressRelease = rows.Text(row, 11);
        job.siteNumber = static_cast<int>(rows.Integer(row, 12));
        job.siteCount = static_cast<int>(rows.Integer(row, 13));
        job.site = rows.Text(row, 14);
        job.siteSince = rows.Real(row, 15);
        status.job = job;
      }
      status.queued = QueuedIds(rows.Text(row, 16));
      status.spoolBacklog = static_cast<int>(rows.Integer(row, 17));
      status.lastError = rows.Text(row, 18);
      if (!rows.IsNull(row, 19)) status.lastErrorAt = rows.Real(row, 19);
      status.staleSince = status.refreshed + status.staleLimit;
      status.stale = rows.Real(row, 20) > status.staleSince;
      instances.push_back(std::move(status));
    }
    return instances;
  }

 private:
  DatabaseRef database_;
};

class InstanceStatusWriterOver : public InstanceStatusWriter {
 public:
  explicit InstanceStatusWriterOver(DatabaseRef database) : database_(std::move(database)) {}

  void Write(const InstanceStatus& status, double now) override {
    const auto db = database_->Open(sql::Access::Write);
    CreateTable(*db);
    const double storeNow = QueryStoreNow(*db);
    const double offset = Offset(storeNow - now);
    auto inStore = [offset](double time) { return time + offset; };
    auto optionalInStore = [offset](const std::optional<double>& time) -> sql::Value {
      if (!time) return nullptr;
      return *time + offset;
    };
    const InstanceJob* job = status.job ? &*status.job : nullptr;
    db->Execute(
        db->Upsert("instance",
                   {"instance", "host", "pid", "version", "started", "refreshed", "stale_after",
                    "last_poll", "last_poll_error", "job_schedule", "job_release",
                    "job_site_number", "job_site_count", "job_site", "job_site_since", "queued",
                    "spool_backlog", "last_error", "last_error_at"},
                   {"instance"}),
        {status.instance, status.host, static_cast<std::int64_t>(status.pid), status.version,
         inStore(status.started), storeNow, status.staleLimit, optionalInStore(status.lastPoll),
         status.lastPollError,
         job ? sql::Value(static_cast<std::int64_t>(job->schedule)) : sql::Value(nullptr),
         job ? sql::Value(job->pressRelease) : sql::Value(nullptr),
         job ? sql::Value(job->siteNumber) : sql::Value(nullptr),
         job ? sql::Value(job->siteCount) : sql::Value(nullptr),
         job ? sql::Value(job->site) : sql::Value(nullptr),
         job ? sql::Value(inStore(job->siteSince)) : sql::Value(nullptr), QueuedText(status.queued),
         status.spoolBacklog, status.lastError, optionalInStore(status.lastErrorAt)});
  }

  void Remove(const std::string& instance) override {
    const auto db = database_->Open(sql::Access::Write);
    if (db->Columns("instance").empty()) return;
    db->Execute("DELETE FROM instance WHERE instance = ?", {instance});
  }

  int RemoveStale(const std::string& host, const std::string& instance,
                  const std::function<bool(long long pid)>& gone) override {
    const auto db = database_->Open(sql::Access::Write);
    CreateTable(*db);
    const sql::Rows stale = db->Query(
        "SELECT instance, pid FROM instance WHERE host = ? AND instance <> ? AND "
        "refreshed + stale_after < " +
            StoreNow(*db),
        {host, instance});
    int removed = 0;
    for (int row = 0; row < stale.Count(); ++row)
      if (gone(stale.Integer(row, 1)))
        removed += db->Execute("DELETE FROM instance WHERE instance = ?", {stale.Text(row, 0)});
    return removed;
  }

 private:
  void CreateTable(sql::Session& db) {
    if (tableKnown_) return;
    if (db.Columns("instance").empty()) db.ExecuteScript(schema::InstanceTableSchema(db.Dialect()));
    tableKnown_ = true;
  }

  // The difference of the store's clock and the instance's, kept while it
  // stays within a second of the one measured now.
  double Offset(double measured) {
    constexpr double kSecond = 1.0 / 86400.0;
    if (!offset_ || std::fabs(*offset_ - measured) > kSecond) offset_ = measured;
    return *offset_;
  }

  DatabaseRef database_;
  bool tableKnown_ = false;
  std::optional<double> offset_;
};

}  // namespace

std::unique_ptr<InstanceStatusReader> MakeInstanceStatusReader(const DatabasePaths& paths,
                                                               SqliteStoreOptions options) {
  return std::make_unique<InstanceStatusReaderOver>(MainDatabase(paths, options));
}

std::unique_ptr<InstanceStatusWriter> MakeInstanceStatusWriter(const DatabasePaths& paths,
                                                               SqliteStoreOptions options) {
  return std::make_unique<InstanceStatusWriterOver>(MainDatabase(paths, options));
}

}  // namespace veltrane
