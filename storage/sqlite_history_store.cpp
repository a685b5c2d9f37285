// The history table of db/vt.dat and the job journal beside it (job, job_site).
#include <filesystem>
#include <set>

#include "platform/text_lists.h"
#include "storage/sqlite_file.h"
#include "storage/statement_spool.h"

namespace veltrane {
namespace {

constexpr const char* kInsert =
    "INSERT INTO history (name,time,status,content,subscription) VALUES (?,?,?,?,?)";

struct Column {
  const char* table;
  const char* name;
  const char* type;
};

// The journal's columns added after its tables first shipped: a file made
// before them gains them when the journal next writes to it.
constexpr Column kAddedColumns[] = {
    {"job", "history_id", "INTEGER"},     {"job_site", "last_status", "INTEGER"},
    {"job_site", "success_text", "TEXT"}, {"job_site", "pages", "INTEGER"},
    {"job_site", "screenshot", "TEXT"},   {"job_site", "notes", "TEXT"},
    {"job", "trial", "INTEGER"},          {"job_site", "network_error", "TEXT"},
};

std::set<std::string> ColumnsOf(sqlite::Connection& db, const std::string& table) {
  std::set<std::string> names;
  sqlite::Statement query(db, "SELECT name FROM pragma_table_info(?)", {table});
  while (query.Step()) names.insert(query.Text(0));
  return names;
}

// Creates the journal's tables where missing and adds the columns they lack.
void UpdateJournalTables(sqlite::Connection& db) {
  db.Execute(JobJournalSchema());
  std::set<std::string> job = ColumnsOf(db, "job");
  std::set<std::string> site = ColumnsOf(db, "job_site");
  for (const Column& column : kAddedColumns) {
    std::set<std::string>& present = std::string_view(column.table) == "job" ? job : site;
    if (present.count(column.name)) continue;
    db.Execute((std::string("ALTER TABLE ") + column.table + " ADD COLUMN " + column.name + " " +
                column.type)
                   .c_str());
  }
}

// The selected job_site and job columns of a SiteOutcome, in ReadOutcome's
// order; a column the file lacks (made before it) reads as NULL.
std::string OutcomeColumns(sqlite::Connection& db) {
  const std::set<std::string> job = ColumnsOf(db, "job");
  const std::set<std::string> site = ColumnsOf(db, "job_site");
  std::string columns = "s.job_id, " +
                        std::string(job.count("history_id") ? "j.history_id" : "NULL") +
                        ", j.name, s.position, s.site, s.status, s.reason, s.started, s.ended, "
                        "s.last_url";
  for (const Column& column : kAddedColumns) {
    if (std::string_view(column.table) != "job_site") continue;
    columns += std::string(", ") + (site.count(column.name) ? "s." : "NULL AS ") + column.name;
  }
  return columns + (job.count("trial") ? ", j.trial" : ", NULL AS trial");
}

// position, site, status, reason, started, ended, last_url from column `first` on.
SiteRecord ReadSiteRecord(const sqlite::Statement& row, int first) {
  SiteRecord record;
  record.position = row.Int(first);
  record.site = row.Text(first + 1);
  record.completed = row.Text(first + 2) == "Completed";
  record.reason = row.Text(first + 3);
  record.started = row.Real(first + 4);
  record.ended = row.Real(first + 5);
  record.lastUrl = row.Text(first + 6);
  return record;
}

SiteOutcome ReadOutcome(const sqlite::Statement& row) {
  SiteOutcome outcome;
  outcome.job = row.Integer(0);
  outcome.historyId = row.IsNull(1) ? 0 : row.Integer(1);
  outcome.pressRelease = row.Text(2);
  outcome.record = ReadSiteRecord(row, 3);
  SiteRecord& record = outcome.record;
  record.evidence.lastStatus = row.Int(10);
  record.evidence.successText = row.Text(11);
  record.evidence.pages = row.Int(12);
  record.evidence.screenshot = row.Text(13);
  record.evidence.notes = row.Text(14);
  record.evidence.networkError = row.Text(15);
  outcome.trial = row.Int(16) != 0;
  return outcome;
}

// Records how a site of job `job` ended, replacing an earlier record of its position.
void InsertSite(sqlite::Connection& db, std::int64_t job, sqlite::Value scheduleId,
                const SiteRecord& record) {
  const SiteEvidence& evidence = record.evidence;
  sqlite::Statement(db,
                    "INSERT OR REPLACE INTO job_site (job_id,schedule_id,position,site,status,"
                    "reason,started,ended,last_url,last_status,success_text,pages,screenshot,notes,"
                    "network_error) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                    {job, scheduleId, record.position, record.site,
                     record.completed ? "Completed" : "Failed", record.reason, record.started,
                     record.ended, record.lastUrl, evidence.lastStatus, evidence.successText,
                     evidence.pages, evidence.screenshot, evidence.notes, evidence.networkError})
      .Run();
}

class SqliteHistoryStore : public HistoryStore {
 public:
  SqliteHistoryStore(std::string path, SqliteStoreOptions options)
      : file_(std::move(path), options) {}

  void Append(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    const std::initializer_list<sqlite::Value> values = {row.name, row.time, row.status,
                                                         row.content, row.subscription};
    try {
      sqlite::Connection db = file_.ForWriting();
      if (finishesJob) UpdateJournalTables(db);
      sqlite::Transaction transaction(db);
      sqlite::Statement(db, kInsert, values).Run();
      // The job keeps its history row's id, so the row finds its sites' evidence.
      if (finishesJob)
        sqlite::Statement(db, "UPDATE job SET finished = ?, history_id = ? WHERE id = ?",
                          {now, db.LastInsertId(), finishesJob})
            .Run();
      transaction.Commit();
    } catch (const StorageError& error) {
      // Whatever failed, the row's insert is what did not happen.
      throw error.WithStatement(sqlite::ShownSql(kInsert, values));
    }
  }

  std::string Keep(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    // Run as one text, so the values go in as literals. It guards itself: a
    // crash between its commit and the deletion of its file runs it again.
    std::string sql = sqlite::ShownSql(
        "BEGIN IMMEDIATE;\nINSERT INTO history (name,time,status,content,subscription) "
        "SELECT ?,?,?,?,? WHERE NOT EXISTS (SELECT 1 FROM history WHERE time = ? AND content = ?)",
        {row.name, row.time, row.status, row.content, row.subscription, row.time, row.content});
    if (finishesJob)
      sql += sqlite::ShownSql(
          " AND NOT EXISTS (SELECT 1 FROM job WHERE id = ? AND finished IS NOT NULL);\n"
          "UPDATE job SET finished = ? WHERE id = ?",
          {finishesJob, now, finishesJob});
    return SpoolStatement(std::filesystem::path(file_.Path()).parent_path().string(),
                          sql + ";\nCOMMIT;\n");
  }

  int WriteKept(TraceSink& trace) override {
    return RunSpooledStatements(std::filesystem::path(file_.Path()).parent_path().string(),
                                file_.Path(), trace);
  }

  std::vector<HistoryEntry> List() override {
    sqlite::Connection db = file_.ForReading();
    sqlite::Statement query(
        db, "SELECT rowid, time, name, status, subscription FROM history ORDER BY rowid");
    std::vector<HistoryEntry> entries;
    while (query.Step())
      entries.push_back(
          {query.Integer(0), {query.Text(2), query.Text(1), query.Text(3), "", query.Text(4)}});
    return entries;
  }

  std::optional<HistoryEntry> Find(std::int64_t id) override {
    sqlite::Connection db = file_.ForReading();
    sqlite::Statement query(
        db, "SELECT time, name, status, subscription, content FROM history WHERE rowid = ?", {id});
    if (!query.Step()) return std::nullopt;
    return HistoryEntry{
        id, {query.Text(1), query.Text(0), query.Text(2), query.Text(4), query.Text(3)}};
  }

  std::optional<std::string> TimeBefore(std::int64_t id) override {
    sqlite::Connection db = file_.ForReading();
    sqlite::Statement query(
        db, "SELECT time FROM history WHERE rowid < ? ORDER BY rowid DESC LIMIT 1", {id});
    if (!query.Step()) return std::nullopt;
    return query.Text(0);
  }

  void Check() override { file_.Check({"history"}); }

  std::vector<std::int64_t> UnfinishedJobs() override {
    sqlite::Connection db = file_.ForReading();
    sqlite::Statement query(db, "SELECT id FROM job WHERE finished IS NULL ORDER BY id");
    std::vector<std::int64_t> ids;
    while (query.Step()) ids.push_back(query.Integer(0));
    return ids;
  }

  std::optional<JournalJob> ReadJob(std::int64_t id) override {
    sqlite::Connection db = file_.ForReading();
    JournalJob job;
    job.id = id;
    {
      sqlite::Statement row(db,
                            "SELECT schedule_id,name,subscription,started FROM job "
                            "WHERE id = ? AND finished IS NULL",
                            {id});
      if (!row.Step()) return std::nullopt;
      job.scheduleId = row.Integer(0);
      job.pressRelease = row.Text(1);
      job.sites = SplitLines(row.Text(2));
      job.started = !row.IsNull(3);
    }
    sqlite::Statement query(db,
                            "SELECT position,site,status,reason,started,ended,last_url "
                            "FROM job_site WHERE job_id = ? ORDER BY ended, rowid",
                            {id});
    while (query.Step()) job.ended.push_back(ReadSiteRecord(query, 0));
    return job;
  }

  std::int64_t StartJob(std::int64_t id, ScheduleId scheduleId, const std::string& pressRelease,
                        const std::vector<std::string>& sites, double now) override {
    const std::string siteLines = LinesText(sites);
    sqlite::Connection db = file_.ForWriting();
    UpdateJournalTables(db);
    sqlite::Transaction transaction(db);
    if (id == 0) {
      sqlite::Statement queued(db,
                               "SELECT id FROM job WHERE schedule_id = ? AND started IS NULL "
                               "AND finished IS NULL ORDER BY id",
                               {scheduleId});
      if (queued.Step()) id = queued.Integer(0);
    }
    if (id == 0) {
      sqlite::Statement(db, "INSERT INTO job (schedule_id) VALUES (?)", {scheduleId}).Run();
      id = db.LastInsertId();
    }
    sqlite::Statement(db, "UPDATE job SET name = ?, subscription = ?, started = ? WHERE id = ?",
                      {pressRelease, siteLines, now, id})
        .Run();
    transaction.Commit();
    return id;
  }

  void DropJob(std::int64_t id, ScheduleId scheduleId, double now) override {
    sqlite::Connection db = file_.ForWriting();
    if (id != 0)
      sqlite::Statement(db, "UPDATE job SET finished = ? WHERE id = ?", {now, id}).Run();
    else
      sqlite::Statement(db,
                        "UPDATE job SET finished = ? WHERE id = (SELECT min(id) FROM job "
                        "WHERE schedule_id = ? AND started IS NULL AND finished IS NULL)",
                        {now, scheduleId})
          .Run();
  }

  void RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) override {
    sqlite::Connection db = file_.ForWriting();
    // A job begun by an older service and resumed by this one finds its tables as they were.
    UpdateJournalTables(db);
    InsertSite(db, job, scheduleId, record);
  }

  void RecordTrial(const std::string& pressRelease, const SiteRecord& record) override {
    const std::string sites = LinesText({record.site});
    sqlite::Connection db = file_.ForWriting();
    UpdateJournalTables(db);
    sqlite::Transaction transaction(db);
    sqlite::Statement(db,
                      "INSERT INTO job (name,subscription,started,finished,trial) "
                      "VALUES (?,?,?,?,1)",
                      {pressRelease, sites, record.started, record.ended})
        .Run();
    SiteRecord site = record;
    site.position = 0;
    InsertSite(db, db.LastInsertId(), nullptr, site);
    transaction.Commit();
  }

  std::vector<SiteOutcome> JobSites(std::int64_t historyId) override {
    sqlite::Connection db = file_.ForReading();
    std::vector<SiteOutcome> outcomes;
    if (!db.HasTable("job") || !db.HasTable("job_site") ||
        !ColumnsOf(db, "job").count("history_id"))
      return outcomes;
    sqlite::Statement query(db,
                            "SELECT " + OutcomeColumns(db) +
                                " FROM job j JOIN job_site s ON s.job_id = j.id "
                                "WHERE j.history_id = ? ORDER BY s.position",
                            {historyId});
    while (query.Step()) outcomes.push_back(ReadOutcome(query));
    return outcomes;
  }

  std::vector<SiteOutcome> SiteOutcomes(const std::string& site, int limit) override {
    sqlite::Connection db = file_.ForReading();
    std::vector<SiteOutcome> outcomes;
    if (!db.HasTable("job") || !db.HasTable("job_site")) return outcomes;
    sqlite::Statement query(db,
                            "SELECT " + OutcomeColumns(db) +
                                " FROM job_site s LEFT JOIN job j ON j.id = s.job_id "
                                "WHERE s.site = ? ORDER BY s.ended DESC, s.rowid DESC LIMIT ?",
                            {site, limit});
    while (query.Step()) outcomes.push_back(ReadOutcome(query));
    return outcomes;
  }

 private:
  SqliteFile file_;
};

}  // namespace

std::unique_ptr<HistoryStore> MakeSqliteHistoryStore(std::string mainPath,
                                                     SqliteStoreOptions options) {
  return std::make_unique<SqliteHistoryStore>(std::move(mainPath), options);
}

}  // namespace veltrane
