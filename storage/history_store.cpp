// The history table and the job journal beside it (job, job_site). On a
// shared server a job's history row and its finish are written only by the
// instance that holds the job: one that lost its lease leaves both to the
// instance that took the job over.
#include <cstdio>
#include <set>

#include "platform/text_lists.h"
#include "storage/database_files.h"
#include "storage/schema.h"
#include "storage/spool.h"
#include "storage/store_database.h"

namespace veltrane {
namespace {

constexpr const char* kInsert =
    "INSERT INTO history (name,time,status,content,subscription) VALUES (?,?,?,?,?)";

sql::Values HistoryValues(const HistoryRow& row) {
  return {row.name, row.time, row.status, row.content, row.subscription};
}

// Creates the journal's tables where a file lacks them, and adds the columns
// that came later to tables made before them.
void UpdateJournalTables(sql::Session& db) {
  if (db.Dialect() == sql::Dialect::Sqlite) db.ExecuteScript(JobJournalSchema());
  std::set<std::string> job = db.Columns("job");
  std::set<std::string> site = db.Columns("job_site");
  for (const schema::AddedColumn& column : schema::AddedJournalColumns(db.Dialect())) {
    const std::set<std::string>& present = std::string_view(column.table) == "job" ? job : site;
    if (!present.empty() && !present.count(column.name)) db.Execute(column.add);
  }
}

// The selected job_site and job columns of a SiteOutcome, in ReadOutcome's
// order; a column the tables lack (made before it) reads as NULL.
std::string OutcomeColumns(const std::set<std::string>& job, const std::set<std::string>& site) {
  std::string columns = "s.job_id, " +
                        std::string(job.count("history_id") ? "j.history_id" : "NULL") +
                        ", j.name, s.position, s.site, s.status, s.reason, s.started, s.ended, "
                        "s.last_url";
  for (const char* column :
       {"last_status", "success_text", "pages", "screenshot", "notes", "network_error"})
    columns += std::string(", ") + (site.count(column) ? "s." : "NULL AS ") + column;
  return columns + (job.count("trial") ? ", j.trial" : ", NULL AS trial");
}

// position, site, status, reason, started, ended, last_url from column `first` on.
SiteRecord ReadSiteRecord(const sql::Rows& rows, int row, int first) {
  SiteRecord record;
  record.position = static_cast<int>(rows.Integer(row, first));
  record.site = rows.Text(row, first + 1);
  record.completed = rows.Text(row, first + 2) == "Completed";
  record.reason = rows.Text(row, first + 3);
  record.started = rows.Real(row, first + 4);
  record.ended = rows.Real(row, first + 5);
  record.lastUrl = rows.Text(row, first + 6);
  return record;
}

SiteOutcome ReadOutcome(const sql::Rows& rows, int row) {
  SiteOutcome outcome;
  outcome.job = rows.Integer(row, 0);
  outcome.historyId = rows.Integer(row, 1);
  outcome.pressRelease = rows.Text(row, 2);
  outcome.record = ReadSiteRecord(rows, row, 3);
  SiteEvidence& evidence = outcome.record.evidence;
  evidence.lastStatus = static_cast<int>(rows.Integer(row, 10));
  evidence.successText = rows.Text(row, 11);
  evidence.pages = static_cast<int>(rows.Integer(row, 12));
  evidence.screenshot = rows.Text(row, 13);
  evidence.notes = rows.Text(row, 14);
  evidence.networkError = rows.Text(row, 15);
  outcome.trial = rows.Integer(row, 16) != 0;
  return outcome;
}

// Records how a site of job `job` ended, replacing an earlier record of its position.
void InsertSite(sql::Session& db, std::int64_t job, sql::Value scheduleId,
                const SiteRecord& record) {
  const SiteEvidence& evidence = record.evidence;
  db.Execute(db.Upsert("job_site",
                       {"job_id", "schedule_id", "position", "site", "status", "reason", "started",
                        "ended", "last_url", "last_status", "success_text", "pages", "screenshot",
                        "notes", "network_error"},
                       {"job_id", "position"}),
             {job, std::move(scheduleId), record.position, record.site,
              record.completed ? "Completed" : "Failed", record.reason, record.started,
              record.ended, record.lastUrl, evidence.lastStatus, evidence.successText,
              evidence.pages, evidence.screenshot, evidence.notes, evidence.networkError});
}

// Writes a kept row in one transaction. It lands once: a crash between its
// commit and the deletion of its file takes it up again.
void WriteKeptRow(sql::Session& db, const KeptHistoryRow& kept) {
  sql::Transaction transaction(db);
  bool write = db.Query("SELECT 1 FROM history WHERE time = ? AND content = ?",
                        {kept.row.time, kept.row.content})
                   .Empty();
  if (kept.finishesJob && db.Shared()) {
    write = db.Execute(
                "UPDATE job SET finished = ? WHERE id = ? AND finished IS NULL "
                "AND (holder IS NULL OR holder = ?)",
                {kept.now, kept.finishesJob, kept.holder}) > 0 &&
            write;
  } else if (kept.finishesJob) {
    write = write &&
            db.Query("SELECT 1 FROM job WHERE id = ? AND finished IS NOT NULL", {kept.finishesJob})
                .Empty();
    db.Execute("UPDATE job SET finished = ? WHERE id = ?", {kept.now, kept.finishesJob});
  }
  if (write) {
    const std::int64_t id = db.Insert(kInsert, HistoryValues(kept.row));
    // As Append does: the job keeps its row's id, so the row finds its sites' evidence.
    if (kept.finishesJob)
      db.Execute("UPDATE job SET history_id = ? WHERE id = ?", {id, kept.finishesJob});
  }
  transaction.Commit();
}

class HistoryOver : public HistoryStore {
 public:
  HistoryOver(DatabaseRef database, std::string spool, std::optional<LeaseHolder> holder)
      : database_(std::move(database)), spool_(std::move(spool)), holder_(std::move(holder)) {}

  void Append(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    const sql::Values values = HistoryValues(row);
    try {
      const auto db = database_->Open(sql::Access::Write);
      if (finishesJob) UpdateJournalTables(*db);
      sql::Transaction transaction(*db);
      // Finished already, or taken over: its holder writes the row.
      if (finishesJob && holder_ &&
          db->Execute("UPDATE job SET finished = ? WHERE id = ? AND finished IS NULL "
                      "AND (holder = ? OR holder IS NULL)",
                      {now, finishesJob, holder_->name}) == 0)
        return;
      const std::int64_t id = db->Insert(kInsert, values);
      // The job keeps its history row's id, so the row finds its sites' evidence.
      if (finishesJob && holder_)
        db->Execute("UPDATE job SET history_id = ? WHERE id = ?", {id, finishesJob});
      else if (finishesJob)
        db->Execute("UPDATE job SET finished = ?, history_id = ? WHERE id = ?",
                    {now, id, finishesJob});
      transaction.Commit();
    } catch (const StorageError& error) {
      // Whatever failed, the row's insert is what did not happen.
      throw error.WithStatement(sql::Shown(kInsert, values));
    }
  }

  std::string Keep(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    return KeepHistoryRow(spool_, {row, finishesJob, now, holder_ ? holder_->name : ""});
  }

  int WriteKept(TraceSink& trace) override {
    int written = 0;
    for (const SpooledFile& file : SpooledFiles(spool_)) {
      if (file.unreadable) {
        if (unreadable_.insert(file.path).second)
          trace.TraceLine("Kept statement " + file.path + " cannot be read; it is kept as it is");
        continue;
      }
      try {
        const auto db = database_->Open(sql::Access::Write);
        if (file.row)
          WriteKeptRow(*db, *file.row);
        else
          db->ExecuteScript(file.statements);
      } catch (const StorageError& error) {
        trace.TraceLine("Kept statement " + file.path + " not written yet : " + error.Message());
        return written;
      }
      std::remove(file.path.c_str());
      trace.TraceLine("Kept statement " + file.path + " written");
      ++written;
    }
    return written;
  }

  std::vector<HistoryEntry> List() override {
    const auto db = database_->Open(sql::Access::Read);
    const std::string id = db->InsertionOrder("", "id");
    const sql::Rows rows = db->Query(
        "SELECT " + id + ", time, name, status, subscription FROM history ORDER BY " + id);
    std::vector<HistoryEntry> entries;
    for (int row = 0; row < rows.Count(); ++row)
      entries.push_back(
          {rows.Integer(row, 0),
           {rows.Text(row, 2), rows.Text(row, 1), rows.Text(row, 3), "", rows.Text(row, 4)}});
    return entries;
  }

  std::optional<HistoryEntry> Find(std::int64_t id) override {
    const auto db = database_->Open(sql::Access::Read);
    const sql::Rows row = db->Query(
        "SELECT time, name, status, subscription, content FROM "
        "history WHERE " +
            db->InsertionOrder("", "id") + " = ?",
        {id});
    if (row.Empty()) return std::nullopt;
    return HistoryEntry{
        id, {row.Text(0, 1), row.Text(0, 0), row.Text(0, 2), row.Text(0, 4), row.Text(0, 3)}};
  }

  std::optional<std::string> TimeBefore(std::int64_t id) override {
    const auto db = database_->Open(sql::Access::Read);
    const std::string rowId = db->InsertionOrder("", "id");
    const sql::Rows row = db->Query(
        "SELECT time FROM history WHERE " + rowId + " < ? ORDER BY " + rowId + " DESC LIMIT 1",
        {id});
    if (row.Empty()) return std::nullopt;
    return row.Text(0, 0);
  }

  void Check() override { database_->Open(sql::Access::Read)->RequireTables({"history"}); }

  // On a shared server only the jobs this instance holds: the others belong
  // to live instances, or are claimed once their lease runs out.
  std::vector<std::int64_t> UnfinishedJobs() override {
    const auto db = database_->Open(sql::Access::Read);
    const sql::Rows rows =
        holder_ ? db->Query("SELECT id FROM job WHERE finished IS NULL AND holder = ? ORDER BY id",
                            {holder_->name})
                : db->Query("SELECT id FROM job WHERE finished IS NULL ORDER BY id");
    std::vector<std::int64_t> ids;
    for (int row = 0; row < rows.Count(); ++row) ids.push_back(rows.Integer(row, 0));
    return ids;
  }

  std::optional<JournalJob> ReadJob(std::int64_t id) override {
    const auto db = database_->Open(sql::Access::Read);
    const sql::Rows row = db->Query(
        "SELECT schedule_id,name,subscription,started FROM job WHERE id = ? AND finished IS NULL",
        {id});
    if (row.Empty()) return std::nullopt;
    JournalJob job;
    job.id = id;
    job.scheduleId = row.Integer(0, 0);
    job.pressRelease = row.Text(0, 1);
    job.sites = SplitLines(row.Text(0, 2));
    job.started = !row.IsNull(0, 3);
    const sql::Rows sites = db->Query(
        "SELECT position,site,status,reason,started,ended,last_url FROM job_site "
        "WHERE job_id = ? ORDER BY ended, " +
            db->InsertionOrder("", "position"),
        {id});
    for (int site = 0; site < sites.Count(); ++site)
      job.ended.push_back(ReadSiteRecord(sites, site, 0));
    return job;
  }

  std::int64_t StartJob(std::int64_t id, ScheduleId scheduleId, const std::string& pressRelease,
                        const std::vector<std::string>& sites, double now) override {
    const auto db = database_->Open(sql::Access::Write);
    UpdateJournalTables(*db);
    sql::Transaction transaction(*db);
    if (id == 0) {
      const sql::Rows queued =
          holder_ ? db->Query(
                        "SELECT id FROM job WHERE schedule_id = ? AND started IS NULL AND "
                        "finished IS NULL AND (holder = ? OR holder IS NULL) ORDER BY id "
                        "LIMIT 1",
                        {scheduleId, holder_->name})
                  : db->Query(
                        "SELECT id FROM job WHERE schedule_id = ? AND started IS NULL AND "
                        "finished IS NULL ORDER BY id LIMIT 1",
                        {scheduleId});
      if (!queued.Empty()) id = queued.Integer(0, 0);
    }
    if (id == 0)
      id = holder_ ? db->Insert(
                         "INSERT INTO job (schedule_id, holder, lease_until) "
                         "VALUES (?, ?, now() + make_interval(secs => ?))",
                         {scheduleId, holder_->name, holder_->leaseSeconds})
                   : db->Insert("INSERT INTO job (schedule_id) VALUES (?)", {scheduleId});
    db->Execute("UPDATE job SET name = ?, subscription = ?, started = ? WHERE id = ?",
                {pressRelease, LinesText(sites), now, id});
    transaction.Commit();
    return id;
  }

  void DropJob(std::int64_t id, ScheduleId scheduleId, double now) override {
    const auto db = database_->Open(sql::Access::Write);
    const std::string queued =
        "SELECT min(id) FROM job WHERE schedule_id = ? AND started IS NULL AND finished IS NULL";
    if (id != 0)
      db->Execute("UPDATE job SET finished = ? WHERE id = ?", {now, id});
    else if (holder_)
      db->Execute("UPDATE job SET finished = ? WHERE id = (" + queued + " AND holder = ?)",
                  {now, scheduleId, holder_->name});
    else
      db->Execute("UPDATE job SET finished = ? WHERE id = (" + queued + ")", {now, scheduleId});
  }

  void RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) override {
    const auto db = database_->Open(sql::Access::Write);
    // A job begun by an older service and resumed by this one finds its tables as they were.
    UpdateJournalTables(*db);
    InsertSite(*db, job, scheduleId, record);
  }

  void RecordTrial(const std::string& pressRelease, const SiteRecord& record) override {
    const auto db = database_->Open(sql::Access::Write);
    UpdateJournalTables(*db);
    sql::Transaction transaction(*db);
    const std::int64_t id =
        db->Insert("INSERT INTO job (name,subscription,started,finished,trial) VALUES (?,?,?,?,1)",
                   {pressRelease, LinesText({record.site}), record.started, record.ended});
    SiteRecord site = record;
    site.position = 0;
    InsertSite(*db, id, nullptr, site);
    transaction.Commit();
  }

  std::vector<SiteOutcome> JobSites(std::int64_t historyId) override {
    const auto db = database_->Open(sql::Access::Read);
    const std::set<std::string> job = db->Columns("job");
    const std::set<std::string> site = db->Columns("job_site");
    if (job.empty() || site.empty() || !job.count("history_id")) return {};
    return Outcomes(db->Query("SELECT " + OutcomeColumns(job, site) +
                                  " FROM job j JOIN job_site s ON s.job_id = j.id "
                                  "WHERE j.history_id = ? ORDER BY s.position",
                              {historyId}));
  }

  std::vector<SiteOutcome> SiteOutcomes(const std::string& siteName, int limit) override {
    const auto db = database_->Open(sql::Access::Read);
    const std::set<std::string> job = db->Columns("job");
    const std::set<std::string> site = db->Columns("job_site");
    if (job.empty() || site.empty()) return {};
    return Outcomes(db->Query("SELECT " + OutcomeColumns(job, site) +
                                  " FROM job_site s LEFT JOIN job j ON j.id = s.job_id "
                                  "WHERE s.site = ? ORDER BY s.ended DESC, " +
                                  db->InsertionOrder("s.", "job_id") + " DESC LIMIT ?",
                              {siteName, limit}));
  }

 private:
  static std::vector<SiteOutcome> Outcomes(const sql::Rows& rows) {
    std::vector<SiteOutcome> outcomes;
    for (int row = 0; row < rows.Count(); ++row) outcomes.push_back(ReadOutcome(rows, row));
    return outcomes;
  }

  DatabaseRef database_;
  std::string spool_;
  std::optional<LeaseHolder> holder_;
  std::set<std::string> unreadable_;  // spooled files already traced as unreadable
};

}  // namespace

std::unique_ptr<HistoryStore> MakeHistoryStore(DatabaseRef database, std::string spoolDirectory,
                                               std::optional<LeaseHolder> holder) {
  return std::make_unique<HistoryOver>(std::move(database), std::move(spoolDirectory),
                                       std::move(holder));
}

}  // namespace veltrane
