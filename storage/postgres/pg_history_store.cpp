// The history table and the job journal over a PostgreSQL server. A job's
// history row and its finish are written only by the instance that holds
// the job: one that lost its lease to another leaves both to that one.
#include <filesystem>

#include "platform/text_lists.h"
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_store_access.h"
#include "storage/postgres/pg_stores.h"
#include "storage/sqlite_core.h"
#include "storage/statement_spool.h"

namespace veltrane {
namespace {

using pg::Param;
using pg::WithConnection;

constexpr const char* kInsert =
    "INSERT INTO history (name,time,status,content,subscription) VALUES ($1,$2,$3,$4,$5)";

// The text as a literal of a kept statement (standard strings: quotes doubled).
std::string Literal(const std::string& text) { return sqlite::Value(text).Literal(); }

SiteRecord RecordOf(const PgResult& rows, int row) {
  SiteRecord record;
  record.position = static_cast<int>(rows.Integer(row, 0));
  record.site = rows.Text(row, 1);
  record.completed = rows.Text(row, 2) == "Completed";
  record.reason = rows.Text(row, 3);
  record.started = rows.Real(row, 4);
  record.ended = rows.Real(row, 5);
  record.lastUrl = rows.Text(row, 6);
  return record;
}

// Whether the table has the column: a server made before job.trial or
// job_site.network_error lacks it until init, or until the store first
// writes one there, adds it.
bool HasColumn(PgDatabase& db, const std::string& table, const std::string& column) {
  return db.Execute(
               "SELECT 1 FROM information_schema.columns WHERE table_name = $1 "
               "AND column_name = $2 AND table_schema = current_schema()",
               {table, column})
             .Rows() > 0;
}

// Records how a site of job `job` ended, replacing an earlier record of its position.
void InsertSite(PgDatabase& db, std::int64_t job, const PgParam& scheduleId,
                const SiteRecord& record) {
  const SiteEvidence& evidence = record.evidence;
  if (!HasColumn(db, "job_site", "network_error"))
    db.Execute("ALTER TABLE job_site ADD COLUMN IF NOT EXISTS network_error TEXT");
  db.Execute(
      "INSERT INTO job_site (job_id, schedule_id, position, site, status, reason, started, "
      "ended, last_url, last_status, success_text, pages, screenshot, notes, network_error) "
      "VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12,$13,$14,$15) "
      "ON CONFLICT (job_id, position) DO UPDATE SET site = EXCLUDED.site, "
      "status = EXCLUDED.status, reason = EXCLUDED.reason, started = EXCLUDED.started, "
      "ended = EXCLUDED.ended, last_url = EXCLUDED.last_url, "
      "last_status = EXCLUDED.last_status, success_text = EXCLUDED.success_text, "
      "pages = EXCLUDED.pages, screenshot = EXCLUDED.screenshot, notes = EXCLUDED.notes, "
      "network_error = EXCLUDED.network_error",
      {Param(job), scheduleId, Param(std::int64_t{record.position}), record.site,
       std::string(record.completed ? "Completed" : "Failed"), record.reason, Param(record.started),
       Param(record.ended), record.lastUrl, Param(std::int64_t{evidence.lastStatus}),
       evidence.successText, Param(std::int64_t{evidence.pages}), evidence.screenshot,
       evidence.notes, evidence.networkError});
}

class PgHistoryStore : public HistoryStore {
 public:
  PgHistoryStore(std::string url, LeaseHolder holder, std::string spoolDirectory)
      : url_(std::move(url)), holder_(std::move(holder)), spool_(std::move(spoolDirectory)) {}

  void Append(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    try {
      WithConnection(url_, [&](PgDatabase& db) {
        PgTransaction transaction(db);
        if (finishesJob &&
            db.Execute("UPDATE job SET finished = $1 WHERE id = $2 AND finished IS NULL "
                       "AND (holder = $3 OR holder IS NULL)",
                       {Param(now), Param(finishesJob), holder_.name})
                    .Changes() == 0) {
          return;  // finished already, or taken over: its holder writes the row
        }
        const std::int64_t id =
            db.Execute(std::string(kInsert) + " RETURNING id",
                       {row.name, row.time, row.status, row.content, row.subscription})
                .Integer(0, 0);
        // The job keeps its history row's id, so the row finds its sites' evidence.
        if (finishesJob)
          db.Execute("UPDATE job SET history_id = $1 WHERE id = $2",
                     {Param(id), Param(finishesJob)});
        transaction.Commit();
      });
    } catch (const StorageError& error) {
      throw error.WithStatement(sqlite::ShownSql(
          "INSERT INTO history (name,time,status,content,subscription) VALUES (?,?,?,?,?)",
          {row.name, row.time, row.status, row.content, row.subscription}));
    }
  }

  std::string Keep(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    // Guards itself like the direct write, and against running twice.
    std::string sql =
        "BEGIN;\nINSERT INTO history (name,time,status,content,subscription) SELECT " +
        Literal(row.name) + "," + Literal(row.time) + "," + Literal(row.status) + "," +
        Literal(row.content) + "," + Literal(row.subscription) +
        " WHERE NOT EXISTS (SELECT 1 FROM history WHERE time = " + Literal(row.time) +
        " AND content = " + Literal(row.content) + ")";
    if (finishesJob) {
      const std::string job = Param(finishesJob);
      sql += " AND EXISTS (SELECT 1 FROM job WHERE id = " + job +
             " AND finished IS NULL AND (holder IS NULL OR holder = " + Literal(holder_.name) +
             "));\nUPDATE job SET finished = " + Param(now) + " WHERE id = " + job +
             " AND finished IS NULL AND (holder IS NULL OR holder = " + Literal(holder_.name) + ")";
    }
    return SpoolStatement(spool_, sql + ";\nCOMMIT;\n");
  }

  int WriteKept(TraceSink& trace) override {
    return RunSpooledStatements(
        spool_,
        [&](const std::string& sql) {
          WithConnection(url_, [&](PgDatabase& db) { db.ExecuteScript(sql); });
        },
        trace);
  }

  std::vector<HistoryEntry> List() override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult rows =
          db.Execute("SELECT id, time, name, status, subscription FROM history ORDER BY id");
      std::vector<HistoryEntry> entries;
      for (int i = 0; i < rows.Rows(); ++i)
        entries.push_back(
            {rows.Integer(i, 0),
             {rows.Text(i, 2), rows.Text(i, 1), rows.Text(i, 3), "", rows.Text(i, 4)}});
      return entries;
    });
  }

  std::optional<HistoryEntry> Find(std::int64_t id) override {
    return WithConnection(url_, [&](PgDatabase& db) -> std::optional<HistoryEntry> {
      const PgResult row =
          db.Execute("SELECT time, name, status, subscription, content FROM history WHERE id = $1",
                     {Param(id)});
      if (row.Rows() == 0) return std::nullopt;
      return HistoryEntry{
          id, {row.Text(0, 1), row.Text(0, 0), row.Text(0, 2), row.Text(0, 4), row.Text(0, 3)}};
    });
  }

  std::optional<std::string> TimeBefore(std::int64_t id) override {
    return WithConnection(url_, [&](PgDatabase& db) -> std::optional<std::string> {
      const PgResult row = db.Execute(
          "SELECT time FROM history WHERE id < $1 ORDER BY id DESC LIMIT 1", {Param(id)});
      if (row.Rows() == 0) return std::nullopt;
      return row.Text(0, 0);
    });
  }

  void Check() override {
    WithConnection(url_, [](PgDatabase& db) { db.Execute("SELECT 1 FROM history LIMIT 1"); });
  }

  // Only the jobs this instance holds: the others belong to live instances,
  // or are claimed once their lease runs out.
  std::vector<std::int64_t> UnfinishedJobs() override {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult rows = db.Execute(
          "SELECT id FROM job WHERE finished IS NULL AND holder = $1 ORDER BY id", {holder_.name});
      std::vector<std::int64_t> ids;
      for (int i = 0; i < rows.Rows(); ++i) ids.push_back(rows.Integer(i, 0));
      return ids;
    });
  }

  std::optional<JournalJob> ReadJob(std::int64_t id) override {
    return WithConnection(url_, [&](PgDatabase& db) -> std::optional<JournalJob> {
      const PgResult row = db.Execute(
          "SELECT schedule_id, name, subscription, started FROM job "
          "WHERE id = $1 AND finished IS NULL",
          {Param(id)});
      if (row.Rows() == 0) return std::nullopt;
      JournalJob job;
      job.id = id;
      job.scheduleId = row.Integer(0, 0);
      job.pressRelease = row.Text(0, 1);
      job.sites = SplitLines(row.Text(0, 2));
      job.started = !row.IsNull(0, 3);
      const PgResult sites = db.Execute(
          "SELECT position, site, status, reason, started, ended, last_url FROM job_site "
          "WHERE job_id = $1 ORDER BY ended, position",
          {Param(id)});
      for (int i = 0; i < sites.Rows(); ++i) job.ended.push_back(RecordOf(sites, i));
      return job;
    });
  }

  std::int64_t StartJob(std::int64_t id, ScheduleId scheduleId, const std::string& pressRelease,
                        const std::vector<std::string>& sites, double now) override {
    const std::string siteLines = LinesText(sites);
    return WithConnection(url_, [&](PgDatabase& db) {
      PgTransaction transaction(db);
      if (id == 0) {
        const PgResult queued = db.Execute(
            "SELECT id FROM job WHERE schedule_id = $1 AND started IS NULL AND finished IS NULL "
            "AND (holder = $2 OR holder IS NULL) ORDER BY id LIMIT 1",
            {Param(scheduleId), holder_.name});
        if (queued.Rows() > 0) id = queued.Integer(0, 0);
      }
      if (id == 0)
        id = db.Execute(
                   "INSERT INTO job (schedule_id, holder, lease_until) "
                   "VALUES ($1, $2, now() + make_interval(secs => $3)) RETURNING id",
                   {Param(scheduleId), holder_.name, Param(std::int64_t{holder_.leaseSeconds})})
                 .Integer(0, 0);
      db.Execute("UPDATE job SET name = $1, subscription = $2, started = $3 WHERE id = $4",
                 {pressRelease, siteLines, Param(now), Param(id)});
      transaction.Commit();
      return id;
    });
  }

  void DropJob(std::int64_t id, ScheduleId scheduleId, double now) override {
    WithConnection(url_, [&](PgDatabase& db) {
      if (id != 0)
        db.Execute("UPDATE job SET finished = $1 WHERE id = $2", {Param(now), Param(id)});
      else
        db.Execute(
            "UPDATE job SET finished = $1 WHERE id = (SELECT min(id) FROM job WHERE "
            "schedule_id = $2 AND started IS NULL AND finished IS NULL AND holder = $3)",
            {Param(now), Param(scheduleId), holder_.name});
    });
  }

  void RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) override {
    WithConnection(url_, [&](PgDatabase& db) { InsertSite(db, job, Param(scheduleId), record); });
  }

  void RecordTrial(const std::string& pressRelease, const SiteRecord& record) override {
    WithConnection(url_, [&](PgDatabase& db) {
      if (!HasColumn(db, "job", "trial"))
        db.Execute("ALTER TABLE job ADD COLUMN IF NOT EXISTS trial INTEGER");
      PgTransaction transaction(db);
      const std::int64_t id =
          db.Execute(
                "INSERT INTO job (name, subscription, started, finished, trial) "
                "VALUES ($1, $2, $3, $4, 1) RETURNING id",
                {pressRelease, LinesText({record.site}), Param(record.started),
                 Param(record.ended)})
              .Integer(0, 0);
      SiteRecord site = record;
      site.position = 0;
      InsertSite(db, id, std::nullopt, site);
      transaction.Commit();
    });
  }

  std::vector<SiteOutcome> JobSites(std::int64_t historyId) override {
    return Outcomes(
        "FROM job j JOIN job_site s ON s.job_id = j.id WHERE j.history_id = $1 "
        "ORDER BY s.position",
        {Param(historyId)});
  }

  std::vector<SiteOutcome> SiteOutcomes(const std::string& site, int limit) override {
    return Outcomes(
        "FROM job_site s LEFT JOIN job j ON j.id = s.job_id WHERE s.site = $1 "
        "ORDER BY s.ended DESC, s.job_id DESC LIMIT $2",
        {site, Param(std::int64_t{limit})});
  }

 private:
  std::vector<SiteOutcome> Outcomes(const std::string& fromWhere,
                                    const std::vector<PgParam>& params) {
    return WithConnection(url_, [&](PgDatabase& db) {
      const PgResult rows = db.Execute(
          "SELECT s.position, s.site, s.status, s.reason, s.started, s.ended, s.last_url, "
          "COALESCE(s.last_status, 0), s.success_text, COALESCE(s.pages, 0), s.screenshot, "
          "s.notes, s.job_id, COALESCE(j.history_id, 0), j.name, " +
              std::string(HasColumn(db, "job", "trial") ? "COALESCE(j.trial, 0)" : "0") + ", " +
              (HasColumn(db, "job_site", "network_error") ? "s.network_error" : "NULL") + " " +
              fromWhere,
          params);
      std::vector<SiteOutcome> outcomes;
      for (int i = 0; i < rows.Rows(); ++i) {
        SiteOutcome outcome;
        outcome.record = RecordOf(rows, i);
        SiteEvidence& evidence = outcome.record.evidence;
        evidence.lastStatus = static_cast<int>(rows.Integer(i, 7));
        evidence.successText = rows.Text(i, 8);
        evidence.pages = static_cast<int>(rows.Integer(i, 9));
        evidence.screenshot = rows.Text(i, 10);
        evidence.notes = rows.Text(i, 11);
        outcome.job = rows.Integer(i, 12);
        outcome.historyId = rows.Integer(i, 13);
        outcome.pressRelease = rows.Text(i, 14);
        outcome.trial = rows.Integer(i, 15) != 0;
        evidence.networkError = rows.Text(i, 16);
        outcomes.push_back(std::move(outcome));
      }
      return outcomes;
    });
  }

  std::string url_;
  LeaseHolder holder_;
  std::string spool_;
};

}  // namespace

std::unique_ptr<HistoryStore> MakePgHistoryStore(std::string url, LeaseHolder holder,
                                                 std::string spoolDirectory) {
  return std::make_unique<PgHistoryStore>(std::move(url), std::move(holder),
                                          std::move(spoolDirectory));
}

}  // namespace veltrane
