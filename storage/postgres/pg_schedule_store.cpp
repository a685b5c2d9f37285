// The schedule store over a PostgreSQL server, and the claims of a shared store.
#include "platform/text_lists.h"
#include "storage/postgres/pg_schema.h"
#include "storage/postgres/pg_store_access.h"
#include "storage/postgres/pg_stores.h"

namespace veltrane {
namespace {

using pg::Param;
using pg::WithConnection;

class PgScheduleStore : public ScheduleStore {
 public:
  explicit PgScheduleStore(std::string url) : url_(std::move(url)) {}

  std::optional<DueSchedule> FirstDue(
      double now, const std::function<bool(const DueSchedule&)>& take) override {
    return WithConnection(url_, [&](PgDatabase& db) -> std::optional<DueSchedule> {
      const PgResult due = db.Execute(
          "SELECT id, COALESCE(frequency, 0), COALESCE(time, 0) FROM schedule "
          "WHERE next < $1 ORDER BY next",
          {Param(now)});
      for (int row = 0; row < due.Rows(); ++row) {
        const DueSchedule schedule{due.Integer(row, 0), static_cast<int>(due.Integer(row, 1)),
                                   due.Real(row, 2)};
        if (take(schedule)) return schedule;
      }
      return std::nullopt;
    });
  }

  bool AdvanceNextRun(ScheduleId id, double next, double now) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      PgTransaction transaction(db);
      db.Execute("UPDATE schedule SET next = $1 WHERE id = $2", {Param(next), Param(id)});
      const bool pending = db.Execute(
                                 "SELECT count(*) FROM job WHERE schedule_id = $1 AND "
                                 "finished IS NULL",
                                 {Param(id)})
                               .Integer(0, 0) > 0;
      if (!pending)
        db.Execute("INSERT INTO job (schedule_id, queued) VALUES ($1, $2)",
                   {Param(id), Param(now)});
      transaction.Commit();
      return !pending;
    });
  }

  std::optional<ScheduleRow> Find(ScheduleId id) override {
    return WithConnection(url_, [&](PgDatabase& db) -> std::optional<ScheduleRow> {
      const PgResult row =
          db.Execute("SELECT name, subscription FROM schedule WHERE id = $1", {Param(id)});
      if (row.Rows() == 0) return std::nullopt;
      return ScheduleRow{row.Text(0, 0), SplitLines(row.Text(0, 1))};
    });
  }

  std::vector<ScheduleEntry> List() override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult rows = db.Execute(
          "SELECT id, name, subscription, COALESCE(frequency, 0), COALESCE(time, 0), next "
          "FROM schedule ORDER BY next, id");
      std::vector<ScheduleEntry> entries;
      for (int row = 0; row < rows.Rows(); ++row) {
        ScheduleEntry entry;
        entry.id = rows.Text(row, 0);
        entry.name = rows.Text(row, 1);
        entry.sites = SplitLines(rows.Text(row, 2));
        entry.frequency = static_cast<int>(rows.Integer(row, 3));
        entry.time = rows.Real(row, 4);
        if (!rows.IsNull(row, 5)) entry.next = rows.Real(row, 5);
        entries.push_back(std::move(entry));
      }
      return entries;
    });
  }

  ScheduleId Add(const NewSchedule& schedule) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      PgTransaction transaction(db);
      // The next free id, as the SQLite file gives it; the table lock keeps
      // two adding at once from taking the same.
      db.Execute("LOCK TABLE schedule IN SHARE ROW EXCLUSIVE MODE");
      const ScheduleId id =
          db.Execute("SELECT COALESCE(MAX(id), 0) + 1 FROM schedule").Integer(0, 0);
      db.Execute(
          "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
          "VALUES ($1, $2, $3, $4, $5, $6)",
          {Param(id), schedule.release, LinesText(schedule.sites),
           Param(std::int64_t{schedule.frequency}), Param(schedule.time), Param(schedule.next)});
      transaction.Commit();
      return id;
    });
  }

  bool SetNextRun(ScheduleId id, double next) override {
    return WithConnection(url_, [&](PgDatabase& db) {
      return db.Execute("UPDATE schedule SET next = $1 WHERE id = $2", {Param(next), Param(id)})
                 .Changes() > 0;
    });
  }

  void Check() override {
    WithConnection(url_, [](PgDatabase& db) { db.Execute("SELECT 1 FROM schedule LIMIT 1"); });
  }

 private:
  std::string url_;
};

class PgJobClaims : public JobClaims {
 public:
  PgJobClaims(std::string url, LeaseHolder holder)
      : url_(std::move(url)), holder_(std::move(holder)) {}

  std::optional<ClaimedJob> Claim(double now, const InvalidSchedule& invalid) override {
    return WithConnection(url_,
                          [&](PgDatabase& db) { return ClaimJob(db, now, holder_, invalid); });
  }

  int RenewLeases() override {
    return WithConnection(url_, [&](PgDatabase& db) { return veltrane::RenewLeases(db, holder_); });
  }

 private:
  std::string url_;
  LeaseHolder holder_;
};

}  // namespace

std::unique_ptr<ScheduleStore> MakePgScheduleStore(std::string url) {
  return std::make_unique<PgScheduleStore>(std::move(url));
}

std::unique_ptr<JobClaims> MakePgJobClaims(std::string url, LeaseHolder holder) {
  return std::make_unique<PgJobClaims>(std::move(url), std::move(holder));
}

void CreatePgSchema(const std::string& url) {
  WithConnection(url, [](PgDatabase& db) { db.ExecuteScript(PostgresSchema()); });
}

}  // namespace veltrane
