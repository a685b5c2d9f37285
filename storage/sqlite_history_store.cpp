// The history table of db/vt.dat and the job journal beside it (job, job_site).
#include <filesystem>

#include "platform/text_lists.h"
#include "storage/sqlite_file.h"
#include "storage/statement_spool.h"

namespace veltrane {
namespace {

constexpr const char* kInsert =
    "INSERT INTO history (name,time,status,content,subscription) VALUES (?,?,?,?,?)";

class SqliteHistoryStore : public HistoryStore {
 public:
  SqliteHistoryStore(std::string path, SqliteStoreOptions options)
      : file_(std::move(path), options) {}

  void Append(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    const std::initializer_list<sqlite::Value> values = {row.name, row.time, row.status,
                                                         row.content, row.subscription};
    try {
      sqlite::Connection db = file_.ForWriting();
      sqlite::Transaction transaction(db);
      sqlite::Statement(db, kInsert, values).Run();
      if (finishesJob)
        sqlite::Statement(db, "UPDATE job SET finished = ? WHERE id = ?", {now, finishesJob}).Run();
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
    while (query.Step()) {
      SiteRecord record;
      record.position = query.Int(0);
      record.site = query.Text(1);
      record.completed = query.Text(2) == "Completed";
      record.reason = query.Text(3);
      record.started = query.Real(4);
      record.ended = query.Real(5);
      record.lastUrl = query.Text(6);
      job.ended.push_back(std::move(record));
    }
    return job;
  }

  std::int64_t StartJob(std::int64_t id, ScheduleId scheduleId, const std::string& pressRelease,
                        const std::vector<std::string>& sites, double now) override {
    std::string siteLines;
    for (const std::string& site : sites) siteLines += site + "\r\n";
    sqlite::Connection db = file_.ForWriting();
    db.Execute(JobJournalSchema());
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
    sqlite::Statement(
        db,
        "INSERT OR REPLACE INTO job_site (job_id,schedule_id,position,site,status,"
        "reason,started,ended,last_url) VALUES (?,?,?,?,?,?,?,?,?)",
        {job, scheduleId, record.position, record.site, record.completed ? "Completed" : "Failed",
         record.reason, record.started, record.ended, record.lastUrl})
        .Run();
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
