// The history table and the job journal beside it (job, job_site). On a
// shared server every write for a job (its start, a site's end, its history
// row and finish, its drop) is made only while this instance holds the job by
// the fencing token it claimed it with, checked on the locked job row in the
// write's own transaction: one that lost its lease leaves them all to the
// instance that took the job over, and forgets the job. The exceptions are a
// site's end, written under the site's claim by an instance that helps, or
// over this instance's own record in doubt of the site while the job is
// unfinished: what was in doubt is known only here.
#include <chrono>
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

// Records how a site of job `job` ended, replacing an earlier record of its
// position; `inDoubtBy` names the instance whose record is in doubt, none
// for a site's end.
void InsertSite(sql::Session& db, std::int64_t job, sql::Value scheduleId, const SiteRecord& record,
                const std::optional<std::string>& inDoubtBy) {
  const SiteEvidence& evidence = record.evidence;
  db.Execute(
      db.Upsert("job_site",
                {"job_id", "schedule_id", "position", "site", "status", "reason", "started",
                 "ended", "last_url", "last_status", "success_text", "pages", "screenshot", "notes",
                 "network_error", "in_doubt"},
                {"job_id", "position"}),
      {job, std::move(scheduleId), record.position, record.site,
       record.completed ? "Completed" : "Failed", record.reason, record.started, record.ended,
       record.lastUrl, evidence.lastStatus, evidence.successText, evidence.pages,
       evidence.screenshot, evidence.notes, evidence.networkError, inDoubtBy});
}

// Writes a kept row, in the caller's transaction. It lands once: a crash
// between its commit and the deletion of its file takes it up again.
void WriteKeptRow(sql::Session& db, const KeptHistoryRow& kept) {
  bool write = db.Query("SELECT 1 FROM history WHERE time = ? AND content = ?",
                        {kept.row.time, kept.row.content})
                   .Empty();
  if (kept.finishesJob && db.Shared()) {
    write = db.Execute(
                "UPDATE job SET finished = ? WHERE id = ? AND finished IS NULL "
                "AND (holder IS NULL OR holder = ?)",
                {kept.now, kept.finishesJob, kept.holder}) > 0 &&
            write;
    if (write) db.Execute("DELETE FROM job_site_claim WHERE job_id = ?", {kept.finishesJob});
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
}

// Why a kept file can never be applied to `db`, or "": the job a kept row
// finishes is an id of the store it was kept for (a row kept for the files
// names no holder, one kept on a server does), and old statement files were
// written for the SQLite files.
std::string KeptForAnotherStore(const SpooledFile& file, const sql::Session& db) {
  if (file.row && file.row->finishesJob && file.row->holder.empty() == db.Shared())
    return db.Shared() ? "it was kept for the SQLite files" : "it was kept for a server";
  if (!file.row && db.Shared()) return "it was kept for the SQLite files";
  return {};
}

// A failure that says nothing about the kept file: the store is away, busy,
// or not (yet) what it should be. The file waits for a later poll.
bool StoreNotReady(const StorageError& error) {
  using Kind = StorageError::Kind;
  switch (error.What()) {
    case Kind::Failure:
    case Kind::Refused: return false;
    default: return true;
  }
}

class HistoryOver : public HistoryStore {
 public:
  HistoryOver(DatabaseRef database, std::string spool, std::optional<LeaseHolder> holder)
      : database_(std::move(database)), spool_(std::move(spool)), holder_(std::move(holder)) {}

  bool Append(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    const sql::Values values = HistoryValues(row);
    try {
      const auto db = database_->Open(sql::Access::Write);
      if (finishesJob) UpdateJournalTables(*db);
      sql::Transaction transaction(*db);
      // Finished already, or taken over: its holder writes the row.
      if (finishesJob && !HeldForWrite(*db, finishesJob) && !LastSitesEndedHere(*db, finishesJob))
        return false;
      const std::int64_t id = db->Insert(kInsert, values);
      // The job keeps its history row's id, so the row finds its sites' evidence.
      if (finishesJob)
        db->Execute("UPDATE job SET finished = ?, history_id = ? WHERE id = ?",
                    {now, id, finishesJob});
      if (finishesJob && holder_)
        db->Execute("DELETE FROM job_site_claim WHERE job_id = ?", {finishesJob});
      transaction.Commit();
      Forget(finishesJob);
      if (holder_ && holder_->jobs) holder_->jobs->ForgetSites(finishesJob);
      return true;
    } catch (const StorageError& error) {
      // Whatever failed, the row's insert is what did not happen.
      throw error.WithStatement(sql::Shown(kInsert, values));
    }
  }

  std::string Keep(const HistoryRow& row, std::int64_t finishesJob, double now) override {
    // The job stays held until its row lands (WriteKept): site ends kept
    // while the store was away are still this instance's to write.
    return KeepHistoryRow(spool_, {row, finishesJob, now, holder_ ? holder_->name : ""});
  }

  bool Holds(std::int64_t job) override {
    if (!holder_) return true;
    return job != 0 && (!holder_->jobs || holder_->jobs->Holds(job));
  }

  HoldCheck CheckHold(std::int64_t job) override {
    if (!holder_) return HoldCheck::Held;
    const std::optional<std::int64_t> token = Token(job);
    // Forgotten already: the server said so before, or the job was let go.
    if (job == 0 || (holder_->jobs && !token)) return HoldCheck::Lost;
    const auto asked = std::chrono::steady_clock::now();
    const auto db = database_->Open(sql::Access::Write);
    sql::Transaction transaction(*db);
    const sql::Values params = token
                                   ? sql::Values{holder_->leaseSeconds, job, holder_->name, *token}
                                   : sql::Values{holder_->leaseSeconds, job, holder_->name};
    const bool held = !db->Query(
                             "UPDATE job SET lease_until = now() + make_interval(secs => ?) "
                             "WHERE id = ? AND holder = ? AND finished IS NULL" +
                                 std::string(token ? " AND token = ?" : "") + " RETURNING id",
                             params)
                           .Empty();
    if (!held) {
      Forget(job);
      return HoldCheck::Lost;
    }
    // The claims on its sites lapsed with the job's lease: those nobody took
    // meanwhile go on with it.
    std::vector<SiteLease> sites;
    std::vector<SiteLease> sitesHeld;
    if (holder_->jobs)
      for (const SiteLease& site : holder_->jobs->SiteLeases())
        if (site.job == job) sites.push_back(site);
    for (const SiteLease& site : sites)
      if (!db->Query("UPDATE job_site_claim SET lease_until = now() + make_interval(secs => ?) "
                     "WHERE job_id = ? AND position = ? AND holder = ? AND token = ? AND ended "
                     "IS NULL RETURNING position",
                     {holder_->leaseSeconds, job, site.position, holder_->name, site.token})
               .Empty())
        sitesHeld.push_back(site);
    transaction.Commit();
    if (holder_->jobs) {
      holder_->jobs->Renewed({{job, *token}}, {job}, asked);
      holder_->jobs->RenewedSites(sites, sitesHeld, asked);
    }
    return HoldCheck::Held;
  }

  void Release(std::int64_t job, ScheduleId scheduleId) override {
    if (holder_ && holder_->jobs && job == 0) job = holder_->jobs->JobOf(scheduleId).value_or(0);
    if (!holder_ || job == 0) return;
    ReleaseSites(job);
    const std::optional<std::int64_t> token = Token(job);
    Forget(job);
    if (!token) return;
    try {
      // Another instance may take it up at once rather than when the lease ends.
      database_->Open(sql::Access::Write)
          ->Execute(
              "UPDATE job SET lease_until = now() WHERE id = ? AND holder = ? AND token = ? "
              "AND finished IS NULL",
              {job, holder_->name, *token});
    } catch (const StorageError&) {
      // Not renewed any more, the lease ends all the same.
    }
  }

  void ReleaseSites(std::int64_t job) override {
    if (!holder_ || job == 0) return;
    if (holder_->jobs) holder_->jobs->ForgetSites(job);
    try {
      database_->Open(sql::Access::Write)
          ->Execute(
              "UPDATE job_site_claim SET lease_until = now() WHERE job_id = ? AND holder = ? "
              "AND ended IS NULL",
              {job, holder_->name});
    } catch (const StorageError&) {
      // Not renewed any more, the claims end all the same.
    }
  }

  bool ClaimSite(std::int64_t job, int position) override {
    if (!holder_ || job == 0) return true;
    const auto asked = std::chrono::steady_clock::now();
    // A record of the site (its end, or its release in doubt) keeps it from
    // running again; a claim whose lease ran out before its end is taken over.
    const sql::Rows claimed =
        database_->Open(sql::Access::Write)
            ->Query(
                "INSERT INTO job_site_claim "
                "(job_id, position, holder, token, lease_until) "
                "SELECT ?, ?, ?, 1, now() + make_interval(secs => ?) "
                "WHERE EXISTS (SELECT 1 FROM job WHERE id = ? AND "
                "finished IS NULL) AND NOT EXISTS (SELECT 1 FROM job_site "
                "WHERE job_id = ? AND position = ?) "
                "ON CONFLICT (job_id, position) DO UPDATE SET holder = "
                "EXCLUDED.holder, token = job_site_claim.token + 1, "
                "lease_until = EXCLUDED.lease_until WHERE "
                "job_site_claim.ended IS NULL AND "
                "(job_site_claim.lease_until < now() OR "
                "job_site_claim.holder = EXCLUDED.holder) RETURNING token",
                {job, position, holder_->name, holder_->leaseSeconds, job, job, position});
    if (claimed.Empty()) return false;
    if (holder_->jobs) holder_->jobs->ClaimedSite({job, position, claimed.Integer(0, 0)}, asked);
    return true;
  }

  std::vector<std::int64_t> JobsToHelp() override {
    if (!holder_) return {};
    const sql::Rows rows = database_->Open(sql::Access::Read)
                               ->Query(
                                   "SELECT id FROM job WHERE finished IS NULL AND started IS NOT "
                                   "NULL AND trial IS NULL AND holder <> ? AND lease_until > "
                                   "now() ORDER BY id LIMIT 10",
                                   {holder_->name});
    std::vector<std::int64_t> ids;
    for (int row = 0; row < rows.Count(); ++row) ids.push_back(rows.Integer(row, 0));
    return ids;
  }

  // Each kept file in a transaction of its own, deleted only once its commit
  // is known. A file that cannot be applied while the store answers is moved
  // to spool-failed/, traced once, and the others go on; while the store is
  // not ready every file waits, in order.
  int WriteKept(TraceSink& trace) override {
    int written = 0;
    for (const SpooledFile& file : SpooledFiles(spool_)) {
      if (!file.unusable.empty()) {
        SetAside(file.path, file.unusable, trace);
        continue;
      }
      try {
        const auto db = database_->Open(sql::Access::Write);
        if (const std::string why = KeptForAnotherStore(file, *db); !why.empty()) {
          SetAside(file.path, why, trace);
          continue;
        }
        sql::Transaction transaction(*db);
        if (file.row)
          WriteKeptRow(*db, *file.row);
        else
          db->ExecuteScript(file.statements);
        transaction.Commit();
      } catch (const StorageError& error) {
        if (StoreNotReady(error) || !StoreAnswers()) {
          // Once per cause, not at every poll.
          if (waiting_ != error.Message())
            trace.TraceLine("Kept statement " + file.path +
                            " not written yet : " + error.Message());
          waiting_ = error.Message();
          return written;
        }
        SetAside(file.path, error.Message(), trace);
        continue;
      }
      waiting_.clear();
      // The job it finished has ended here: its lease is no longer renewed.
      if (file.row && file.row->finishesJob) Forget(file.row->finishesJob);
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
    if (db->Columns("job").empty()) return {};
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
    // One snapshot: an instance that ends a site replaces its record and
    // ends its claim in one commit, which this read sees whole or not at all.
    sql::Transaction snapshot(*db, sql::TransactionKind::Snapshot);
    // A job table made before a mark has none.
    const std::set<std::string> columns = db->Columns("job");
    const sql::Rows row = db->Query(std::string("SELECT schedule_id,name,subscription,started,") +
                                        (columns.count("interrupted") ? "interrupted" : "NULL") +
                                        " FROM job WHERE id = ? AND finished IS NULL",
                                    {id});
    if (row.Empty()) return std::nullopt;
    JournalJob job;
    job.id = id;
    job.scheduleId = row.Integer(0, 0);
    job.pressRelease = row.Text(0, 1);
    job.sites = SplitLines(row.Text(0, 2));
    job.started = !row.IsNull(0, 3);
    job.interrupted = row.Integer(0, 4) != 0;
    const sql::Rows sites = db->Query(
        "SELECT position,site,status,reason,started,ended,last_url FROM job_site "
        "WHERE job_id = ? ORDER BY ended, " +
            db->InsertionOrder("", "position"),
        {id});
    for (int site = 0; site < sites.Count(); ++site)
      job.ended.push_back(ReadSiteRecord(sites, site, 0));
    if (columns.count("submitting_position")) {
      const sql::Rows mark = db->Query(
          "SELECT submitting_position, submitting_url, submitting_since FROM job "
          "WHERE id = ? AND submitting_position IS NOT NULL",
          {id});
      if (!mark.Empty())
        job.submitting =
            SubmittingMark{static_cast<int>(mark.Integer(0, 0)), mark.Text(0, 1), mark.Real(0, 2)};
    }
    if (holder_) {
      const sql::Rows running = db->Query(
          "SELECT position FROM job_site_claim WHERE job_id = ? AND ended IS NULL AND "
          "lease_until > now() AND holder <> ? ORDER BY position",
          {id, holder_->name});
      for (int row = 0; row < running.Count(); ++row)
        job.elsewhere.push_back(static_cast<int>(running.Integer(row, 0)));
    }
    return job;
  }

  std::int64_t StartJob(std::int64_t id, ScheduleId scheduleId, const std::string& pressRelease,
                        const std::vector<std::string>& sites, double now) override {
    const auto db = database_->Open(sql::Access::Write);
    UpdateJournalTables(*db);
    sql::Transaction transaction(*db);
    // On a server, the job this instance claimed for the schedule.
    if (id == 0 && holder_ && holder_->jobs) id = holder_->jobs->JobOf(scheduleId).value_or(0);
    if (id == 0 && !holder_) {
      const sql::Rows queued = db->Query(
          "SELECT id FROM job WHERE schedule_id = ? AND started IS NULL AND "
          "finished IS NULL ORDER BY id LIMIT 1",
          {scheduleId});
      if (!queued.Empty()) id = queued.Integer(0, 0);
    }
    if (id == 0 && holder_) {
      const auto asked = std::chrono::steady_clock::now();
      id = db->Insert(
          "INSERT INTO job (schedule_id, holder, lease_until, token) "
          "VALUES (?, ?, now() + make_interval(secs => ?), 1)",
          {scheduleId, holder_->name, holder_->leaseSeconds});
      if (holder_->jobs) holder_->jobs->Claimed(id, scheduleId, 1, asked);
    } else if (id == 0) {
      id = db->Insert("INSERT INTO job (schedule_id) VALUES (?)", {scheduleId});
    }
    // Lost meanwhile: nothing is written, and the job's next check stops it.
    if (!HeldForWrite(*db, id)) return id;
    db->Execute("UPDATE job SET name = ?, subscription = ?, started = ? WHERE id = ?",
                {pressRelease, LinesText(sites), now, id});
    transaction.Commit();
    return id;
  }

  void DropJob(std::int64_t id, ScheduleId scheduleId, double now) override {
    if (id == 0 && holder_ && holder_->jobs) id = holder_->jobs->JobOf(scheduleId).value_or(0);
    // Whether the drop lands or not, this instance no longer runs the job: a
    // lease it stops renewing ends, and another start takes the job up then.
    const std::int64_t dropped = id;
    struct ForgetAtEnd {
      HistoryOver& store;
      std::int64_t job;
      ~ForgetAtEnd() { store.Forget(job); }
    } forget{*this, dropped};
    const auto db = database_->Open(sql::Access::Write);
    if (holder_) {
      sql::Transaction transaction(*db);
      if (id == 0 || !HeldForWrite(*db, id)) return;
      db->Execute("UPDATE job SET finished = ? WHERE id = ?", {now, id});
      transaction.Commit();
      return;
    }
    const std::string queued =
        "SELECT min(id) FROM job WHERE schedule_id = ? AND started IS NULL AND finished IS NULL";
    if (id != 0)
      db->Execute("UPDATE job SET finished = ? WHERE id = ?", {now, id});
    else
      db->Execute("UPDATE job SET finished = ? WHERE id = (" + queued + ")", {now, scheduleId});
  }

  bool MarkSubmitting(std::int64_t job, const SubmittingMark& mark) override {
    const auto db = database_->Open(sql::Access::Write);
    UpdateJournalTables(*db);
    sql::Transaction transaction(*db);
    if (!HeldForWrite(*db, job)) return false;
    const bool marked =
        db->Execute(
            "UPDATE job SET submitting_position = ?, submitting_url = ?, submitting_since = ? "
            "WHERE id = ? AND finished IS NULL",
            {mark.position, mark.address, mark.since, job}) > 0;
    transaction.Commit();
    return marked;
  }

  bool MarkInterrupted(std::int64_t job) override {
    const auto db = database_->Open(sql::Access::Write);
    UpdateJournalTables(*db);
    sql::Transaction transaction(*db);
    if (!HeldForWrite(*db, job)) return false;
    const bool marked =
        db->Execute("UPDATE job SET interrupted = 1 WHERE id = ? AND finished IS NULL", {job}) > 0;
    transaction.Commit();
    return marked;
  }

  bool RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) override {
    return WriteSite(job, scheduleId, record, true);
  }

  bool RecordSiteInDoubt(std::int64_t job, ScheduleId scheduleId,
                         const SiteRecord& record) override {
    return WriteSite(job, scheduleId, record, false);
  }

  bool WriteSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record, bool ends) {
    const auto db = database_->Open(sql::Access::Write);
    // A job begun by an older service and resumed by this one finds its tables as they were.
    UpdateJournalTables(*db);
    sql::Transaction transaction(*db);
    // A site's end kept while the store was away may land after the job's
    // report, which a kept file wrote meanwhile: the job is then this
    // instance's finished one, which nobody else claims.
    // The job's holder writes any of its sites but one another instance
    // runs, ended or left in doubt; an instance that helps writes the sites
    // it claimed. A site's end replaces this instance's own record in doubt
    // while the job is unfinished, even once it let go of the job or of the
    // site's claim: that end is what the record stood for.
    const bool holds = HeldForWrite(*db, job);
    if (InDoubtByAnother(*db, job, record.position)) return false;
    if (holds ? ClaimedByAnother(*db, job, record.position)
              : !FinishedHere(*db, job) && !SiteClaimHeld(*db, job, record.position) &&
                    !(ends && InDoubtHere(*db, job, record.position)))
      return false;
    InsertSite(*db, job, scheduleId, record,
               ends ? std::nullopt : std::optional<std::string>(HolderName()));
    if (ends)
      db->Execute(
          "UPDATE job SET submitting_position = NULL, submitting_url = NULL, "
          "submitting_since = NULL WHERE id = ? AND submitting_position = ?",
          {job, record.position});
    if (ends && holder_)
      db->Execute("UPDATE job_site_claim SET ended = 1 WHERE job_id = ? AND position = ?",
                  {job, record.position});
    // The ended claim still fences the record's own later update (its
    // screenshot's name); the next renewal finds it ended and drops it.
    transaction.Commit();
    return true;
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
    InsertSite(*db, id, nullptr, site, std::nullopt);
    transaction.Commit();
  }

  std::vector<SiteOutcome> JobSites(std::int64_t historyId) override {
    const auto db = database_->Open(sql::Access::Read);
    const std::set<std::string> job = db->Columns("job");
    const std::set<std::string> site = db->Columns("job_site");
    if (job.empty() || site.empty() || !job.count("history_id")) return {};
    return Outcomes(db->Query("SELECT " + OutcomeColumns(job, site) +
                                  " FROM job_site s JOIN job j ON j.id = s.job_id WHERE "
                                  "s.job_id IN (SELECT id FROM job WHERE history_id = ?) "
                                  "ORDER BY s.position",
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
  std::optional<std::int64_t> Token(std::int64_t job) const {
    if (!holder_ || !holder_->jobs) return std::nullopt;
    return holder_->jobs->Token(job);
  }

  void Forget(std::int64_t job) {
    if (holder_ && holder_->jobs && job != 0) holder_->jobs->Forget(job);
  }

  // What marks this instance's records in doubt: its name on a server; on
  // the files, which one instance owns, every record is its own.
  std::string HolderName() const { return holder_ ? holder_->name : ""; }

  // Whether this instance may still write for `job`: on a server, only while
  // the job's row names it as holder with the token it holds the job by, and
  // the job is unfinished; the row stays locked until the transaction ends,
  // so that no takeover comes between this check and the write. A job it
  // lost is forgotten. Always on the files, which one instance owns.
  bool FinishedHere(sql::Session& db, std::int64_t job) {
    return holder_ && !db.Query(
                             "SELECT 1 FROM job WHERE id = ? AND holder = ? AND finished IS NOT "
                             "NULL",
                             {job, holder_->name})
                           .Empty();
  }

  // Whether this instance runs site `position` of the unfinished job `job`
  // under its claim, by the token it claimed it with; the claim's row stays
  // locked until the transaction ends, so no other claim comes between.
  bool SiteClaimHeld(sql::Session& db, std::int64_t job, int position) {
    if (!holder_ || !holder_->jobs) return false;
    const std::optional<std::int64_t> token = holder_->jobs->SiteToken(job, position);
    return token &&
           !db.Query(
                  "SELECT 1 FROM job_site_claim WHERE job_id = ? AND position = ? AND "
                  "holder = ? AND token = ? AND EXISTS (SELECT 1 FROM job WHERE id = ? AND "
                  "finished IS NULL) FOR UPDATE",
                  {job, position, holder_->name, *token, job})
                .Empty();
  }

  // Whether the record of site `position` is in doubt by another instance,
  // which alone may replace it with the site's end. The row stays locked
  // until the transaction ends.
  bool InDoubtByAnother(sql::Session& db, std::int64_t job, int position) {
    return holder_ && !db.Query(
                             "SELECT 1 FROM job_site WHERE job_id = ? AND position = ? AND "
                             "in_doubt IS NOT NULL AND in_doubt <> ? FOR UPDATE",
                             {job, position, holder_->name})
                           .Empty();
  }

  // Whether the record of site `position` of the unfinished job `job` is in
  // doubt by this instance; the job's row, then the site's, stay locked until
  // the transaction ends, so that the job is neither finished nor its record
  // replaced between this check and the write.
  bool InDoubtHere(sql::Session& db, std::int64_t job, int position) {
    return holder_ &&
           !db.Query("SELECT 1 FROM job WHERE id = ? AND finished IS NULL FOR UPDATE", {job})
                .Empty() &&
           !db.Query(
                  "SELECT 1 FROM job_site WHERE job_id = ? AND position = ? AND in_doubt = ? "
                  "FOR UPDATE",
                  {job, position, holder_->name})
                .Empty();
  }

  bool ClaimedByAnother(sql::Session& db, std::int64_t job, int position) {
    return holder_ && !db.Query(
                             "SELECT 1 FROM job_site_claim WHERE job_id = ? AND position = ? AND "
                             "holder <> ? AND (ended = 1 OR lease_until > now())",
                             {job, position, holder_->name})
                           .Empty();
  }

  // Whether this instance, which ran sites of job `job` without holding it,
  // is the one to finish it: the job is unfinished, every site of it has a
  // record, and no other instance still runs one. The job's row stays locked
  // until the transaction ends, so it is finished once.
  bool LastSitesEndedHere(sql::Session& db, std::int64_t job) {
    if (!holder_) return false;
    const sql::Rows row = db.Query(
        "SELECT subscription FROM job WHERE id = ? AND finished IS NULL FOR UPDATE", {job});
    if (row.Empty()) return false;
    const auto sites = static_cast<std::int64_t>(SplitLines(row.Text(0, 0)).size());
    // One statement, one snapshot: a site another instance ends meanwhile
    // (its record replaced and its claim ended in one commit) is seen either
    // still running or ended, never recorded in doubt with no claim running.
    const sql::Rows counts = db.Query(
        "SELECT (SELECT count(*) FROM job_site WHERE job_id = ?), "
        "(SELECT count(*) FROM job_site_claim WHERE job_id = ? AND ended IS NULL AND "
        "lease_until > now() AND holder <> ?), "
        "(SELECT count(*) FROM job_site_claim WHERE job_id = ? AND holder = ?)",
        {job, job, holder_->name, job, holder_->name});
    return counts.Integer(0, 0) >= sites && counts.Integer(0, 1) == 0 && counts.Integer(0, 2) > 0;
  }

  bool HeldForWrite(sql::Session& db, std::int64_t job) {
    if (!holder_) return true;
    const std::optional<std::int64_t> token = Token(job);
    const bool held =
        holder_->jobs
            ? token && !db.Query(
                              "SELECT 1 FROM job WHERE id = ? AND holder = ? AND token = ? "
                              "AND finished IS NULL FOR UPDATE",
                              {job, holder_->name, *token})
                            .Empty()
            : !db.Query("SELECT 1 FROM job WHERE id = ? AND holder = ? AND finished IS NULL",
                        {job, holder_->name})
                   .Empty();
    if (!held) Forget(job);
    return held;
  }

  static std::vector<SiteOutcome> Outcomes(const sql::Rows& rows) {
    std::vector<SiteOutcome> outcomes;
    for (int row = 0; row < rows.Count(); ++row) outcomes.push_back(ReadOutcome(rows, row));
    return outcomes;
  }

  // True when the history can be read: a failure of a kept file is then the file's.
  bool StoreAnswers() {
    try {
      database_->Open(sql::Access::Read)->RequireTables({"history"});
      return true;
    } catch (const StorageError&) {
      return false;
    }
  }

  // Moves a kept file that can never be applied out of the way of the others.
  void SetAside(const std::string& path, const std::string& why, TraceSink& trace) {
    if (unmovable_.count(path)) return;
    const std::string moved = MoveToFailed(path);
    if (moved.empty()) unmovable_.insert(path);
    trace.TraceLine(
        "Kept statement " + path + " cannot be applied (" + why + "); " +
        (moved.empty() ? "it cannot be moved and is left as it is" : "moved to " + moved));
  }

  DatabaseRef database_;
  std::string spool_;
  std::optional<LeaseHolder> holder_;
  std::string waiting_;              // the failure last traced for a kept file that waits
  std::set<std::string> unmovable_;  // kept files that could not be set aside, traced once
};

}  // namespace

std::unique_ptr<HistoryStore> MakeHistoryStore(DatabaseRef database, std::string spoolDirectory,
                                               std::optional<LeaseHolder> holder) {
  return std::make_unique<HistoryOver>(std::move(database), std::move(spoolDirectory),
                                       std::move(holder));
}

}  // namespace veltrane
