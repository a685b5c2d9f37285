#include "jobs/job_journal.h"

#include <utility>

#include "jobs/report.h"
#include "platform/number_text.h"
#include "platform/text_lists.h"
#include "storage/cppsqlite3.h"
#include "storage/database_files.h"

namespace veltrane {
namespace {

std::string Quoted(const std::string& text) { return "'" + QuoteSql(text) + "'"; }

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

JobJournal::JobJournal(std::string mainDatabasePath, TraceSink& trace)
    : path_(std::move(mainDatabasePath)), trace_(trace) {}

std::vector<std::int64_t> JobJournal::UnfinishedJobs() {
  std::vector<std::int64_t> ids;
  try {
    CppSQLite3DB db;
    db.Open(path_.c_str());
    for (CppSQLite3Query query =
             db.RunQuery("SELECT id FROM job WHERE finished IS NULL ORDER BY id");
         !query.AtEnd(); query.Advance())
      ids.push_back(query.IntOf(0, 0));
  } catch (const CppSQLite3Exception&) {
    // No journal yet (a database made before it): nothing was left unfinished.
  }
  return ids;
}

std::optional<JournalJob> JobJournal::Read(std::int64_t id) {
  JournalJob job;
  job.id = id;
  try {
    CppSQLite3DB db;
    db.Open(path_.c_str());
    const std::string jobQuery =
        "SELECT schedule_id,name,subscription,started FROM job WHERE id = " + std::to_string(id) +
        " AND finished IS NULL";
    CppSQLite3Query row = db.RunQuery(jobQuery.c_str());
    if (row.AtEnd()) return std::nullopt;
    job.scheduleId = row.Int64Of("schedule_id", 0);
    job.pressRelease = row.BytesOf("name");
    job.sites = SplitLines(row.BytesOf("subscription"));
    job.started = row.TextOf("started") != nullptr;
    row.Release();
    const std::string siteQuery =
        "SELECT position,site,status,reason,started,ended,last_url FROM job_site WHERE job_id = " +
        std::to_string(id) + " ORDER BY ended, rowid";
    for (CppSQLite3Query query = db.RunQuery(siteQuery.c_str()); !query.AtEnd(); query.Advance()) {
      SiteRecord record;
      record.position = query.IntOf("position", 0);
      record.site = query.BytesOf("site");
      record.completed = query.BytesOf("status") == "Completed";
      record.reason = query.BytesOf("reason");
      record.started = query.RealOf("started", 0.0);
      record.ended = query.RealOf("ended", 0.0);
      record.lastUrl = query.BytesOf("last_url");
      job.ended.push_back(std::move(record));
    }
  } catch (const CppSQLite3Exception& error) {
    trace_.TraceLine("Cannot read job " + std::to_string(id) + " : " + error.Message());
    return std::nullopt;
  }
  return job;
}

std::int64_t JobJournal::Start(std::int64_t id, ScheduleId scheduleId,
                               const std::string& pressRelease,
                               const std::vector<std::string>& sites, double now) {
  const std::string values = "name = " + Quoted(pressRelease) +
                             ", subscription = " + Quoted(JoinLines(sites)) +
                             ", started = " + SqlNumberText(now);
  try {
    CppSQLite3DB db;
    db.Open(path_.c_str());
    db.RunStatement(JobJournalSchema());
    db.RunStatement("BEGIN IMMEDIATE");
    if (id == 0) {
      const std::string queued =
          "SELECT id FROM job WHERE schedule_id = " + std::to_string(scheduleId) +
          " AND started IS NULL AND finished IS NULL ORDER BY id";
      CppSQLite3Query query = db.RunQuery(queued.c_str());
      if (!query.AtEnd()) id = query.IntOf(0, 0);
    }
    if (id == 0) {
      db.RunStatement(
          ("INSERT INTO job (schedule_id) VALUES (" + std::to_string(scheduleId) + ")").c_str());
      CppSQLite3Query rowid = db.RunQuery("SELECT last_insert_rowid()");
      id = rowid.IntOf(0, 0);
    }
    db.RunStatement(("UPDATE job SET " + values + " WHERE id = " + std::to_string(id)).c_str());
    db.RunStatement("COMMIT");
    return id;
  } catch (const CppSQLite3Exception& error) {
    trace_.TraceLine(std::string("Cannot record the job's start : ") + error.Message());
    return 0;
  }
}

void JobJournal::Drop(std::int64_t id, ScheduleId scheduleId, double now) {
  std::string statement = "UPDATE job SET finished = " + SqlNumberText(now) + " WHERE ";
  if (id != 0)
    statement += "id = " + std::to_string(id);
  else
    statement += "id = (SELECT min(id) FROM job WHERE schedule_id = " + std::to_string(scheduleId) +
                 " AND started IS NULL AND finished IS NULL)";
  try {
    CppSQLite3DB db;
    db.Open(path_.c_str());
    db.RunStatement(statement.c_str());
  } catch (const CppSQLite3Exception&) {
    // No journal, or it cannot be written: the job is tried again at the next start.
  }
}

bool JobJournal::RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) {
  if (job == 0) return false;
  const std::string statement =
      "INSERT OR REPLACE INTO job_site "
      "(job_id,schedule_id,position,site,status,reason,started,ended,last_url) VALUES (" +
      std::to_string(job) + "," + std::to_string(scheduleId) + "," +
      std::to_string(record.position) + "," + Quoted(record.site) + "," +
      (record.completed ? "'Completed'" : "'Failed'") + "," + Quoted(record.reason) + "," +
      SqlNumberText(record.started) + "," + SqlNumberText(record.ended) + "," +
      Quoted(record.lastUrl) + ")";
  try {
    CppSQLite3DB db;
    db.Open(path_.c_str());
    db.RunStatement(statement.c_str());
    return true;
  } catch (const CppSQLite3Exception& error) {
    trace_.TraceLine("Cannot record the end of site " + record.site + " : " + error.Message());
    return false;
  }
}

std::string JobJournal::FinishStatement(std::int64_t id, double now) {
  return "UPDATE job SET finished = " + SqlNumberText(now) + " WHERE id = " + std::to_string(id);
}

}  // namespace veltrane
