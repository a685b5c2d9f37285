// HistoryStore: the history table (one row per finished job) and the job
// journal (every job as it starts, every site's outcome as the site ends),
// whatever database holds them. A job is marked finished in the same
// transaction as its history row, so that a job cut short is found
// unfinished and can be finished without running its ended sites again. On a
// shared server a write for a job lands only while this instance holds it.
// Plain values in and out; every failure is a StorageError. One thread at a
// time; each call stands alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/site_record.h"
#include "platform/schedule_rule.h"
#include "platform/trace.h"
#include "storage/storage_error.h"

namespace veltrane {

// A history row; time is the text of a day number, as the job wrote it.
struct HistoryRow {
  std::string name;
  std::string time;
  std::string status;
  std::string content;
  std::string subscription;
};

struct HistoryEntry {
  std::int64_t id = 0;
  HistoryRow row;
};

// A site's outcome in a job, for reading back.
struct SiteOutcome {
  std::int64_t job = 0;
  std::int64_t historyId = 0;  // the job's history row; 0 while unfinished or unknown
  std::string pressRelease;
  bool trial = false;  // a run of 'site try --submit', not a job of the service
  SiteRecord record;
};

// A site whose release form was about to be sent: its place in the job's
// site list, the address of the page it was sent from, and when (a day
// number). Kept so that a journal written by an older service is read as it
// was meant; new code records the site in doubt instead (RecordSiteInDoubt).
struct SubmittingMark {
  int position = 0;
  std::string address;
  double since = 0.0;
};

struct JournalJob {
  std::int64_t id = 0;
  ScheduleId scheduleId = 0;
  bool started = false;  // false: queued by the schedule thread, never started
  std::string pressRelease;
  std::vector<std::string> sites;
  std::vector<SiteRecord> ended;  // in the order the sites ended
  // A site that was sending its release when the job was cut short, unless
  // it ended since (an older service's mark; see SubmittingMark).
  std::optional<SubmittingMark> submitting;
  // The job was cut short while it ran (MarkInterrupted); false for a table
  // made before the mark.
  bool interrupted = false;
  // On a shared server, the sites other instances run now: claimed, their
  // lease running, not ended (by position). Some may have a record in doubt.
  std::vector<int> elsewhere;
};

// What the server says of a job this instance held (CheckHold).
enum class HoldCheck { Held, Lost };

class HistoryStore {
 public:
  virtual ~HistoryStore() = default;

  // Appends the row; with `finishesJob` (a journal id, 0 for none) that job
  // is marked finished at `now` in the same transaction. False, with nothing
  // written, when this instance no longer holds that job (see Holds), unless
  // on a shared server it ran sites of the job and every site of it has
  // ended, none still running elsewhere: whichever instance ends the last
  // site writes the row, once. A failure names the row's INSERT as its statement.
  virtual bool Append(const HistoryRow& row, std::int64_t finishesJob, double now) = 0;
  // Keeps the row (and the job's finish) to be appended by a later poll that
  // runs the kept statements: once, however often that runs, and never when
  // the job has been finished meanwhile. Gives where it is kept, "" when it
  // cannot be kept either.
  virtual std::string Keep(const HistoryRow& row, std::int64_t finishesJob, double now) = 0;

  // Writes the rows kept before, oldest first, each in a transaction of its
  // own, deleting its file once the commit is known; stops while the store
  // is away or not ready. A file that can never be applied (cut short, or
  // refused while the store answers) is moved to spool-failed/ beside it,
  // traced once, and the rest go on. Gives how many were written.
  virtual int WriteKept(TraceSink& trace) = 0;

  // Every row, oldest first.
  virtual std::vector<HistoryEntry> List() = 0;
  virtual std::optional<HistoryEntry> Find(std::int64_t id) = 0;
  // The time of the row before `id`, if there is one.
  virtual std::optional<std::string> TimeBefore(std::int64_t id) = 0;
  // Throws when the history cannot be served at all (no database, no table).
  virtual void Check() = 0;

  // Ids of the journal's jobs whose history row was never written, oldest
  // first (on a shared server, those this instance holds). None only when
  // the database has no journal table yet (made before it); any other
  // failure (no database, a server away, a broken file) throws, for the
  // caller to ask again.
  virtual std::vector<std::int64_t> UnfinishedJobs() = 0;
  // The job while it is unfinished, read from one snapshot: a site's claim
  // and its record are seen as they were at one moment, so a site that
  // another instance ends meanwhile is either still running elsewhere or
  // has its final record, never in doubt with no claim.
  virtual std::optional<JournalJob> ReadJob(std::int64_t id) = 0;
  // Records the start of a job of `scheduleId`: job `id` when given, else the
  // oldest queued job of that schedule, else a new one. Gives the job's id.
  virtual std::int64_t StartJob(std::int64_t id, ScheduleId scheduleId,
                                const std::string& pressRelease,
                                const std::vector<std::string>& sites, double now) = 0;
  // Marks job `id` (0: the oldest queued job of the schedule) finished without history.
  virtual void DropJob(std::int64_t id, ScheduleId scheduleId, double now) = 0;
  // Marks a site of the job as sending its release, replacing the mark of
  // the site before; committed when it returns. False when the job is not
  // this instance's to write (finished, or held by another instance). Kept
  // for the journals of older services, whose mark is still read (see
  // SubmittingMark): new code records the site in doubt instead.
  virtual bool MarkSubmitting(std::int64_t job, const SubmittingMark& mark) = 0;
  // Marks the job as cut short while it ran (JournalJob::interrupted), for
  // good; false, with nothing written, when this instance does not hold it
  // (as every write for a job: see Holds) or it has finished.
  virtual bool MarkInterrupted(std::int64_t /*job*/) { return false; }
  // Records how a site of the job ended, replacing an earlier record of its
  // position, and its submitting mark in the same transaction; the site's
  // claim ends with it. Lands while this instance holds the job (over any
  // record but one another instance ran or wrote in doubt), or holds the
  // site's claim; or, when the record there is in doubt by this instance and
  // the job is unfinished, even after it let go of the job or the claim (a
  // site's end kept through an outage). False, with nothing written,
  // otherwise: never over another instance's record, never for a finished
  // job but one this instance finished itself.
  virtual bool RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) = 0;

  // Records a site whose release is about to be sent as ended with its
  // outcome unknown, so that no instance runs it again, while it still runs
  // here: the record is in doubt by this instance, and its claim stays open,
  // until RecordSite replaces it. False, with nothing written, when this
  // instance holds neither the job nor the site's claim.
  virtual bool RecordSiteInDoubt(std::int64_t job, ScheduleId scheduleId,
                                 const SiteRecord& record) {
    return RecordSite(job, scheduleId, record);
  }

  // On a shared server every site of a running job is claimed before it runs,
  // by the job's own instance or by an idle one that helps: true when the
  // site is this instance's to run now (the job is unfinished, the site has
  // no record, and no other claim on it is live); its lease is then renewed
  // with the jobs'. A site's record (RecordSite) ends its claim. Always true
  // on the files, which one instance owns.
  virtual bool ClaimSite(std::int64_t /*job*/, int /*position*/) { return true; }
  // Lets go of the claims this instance holds on sites of job `id` that have
  // not ended, so that another instance may run them at once.
  virtual void ReleaseSites(std::int64_t /*id*/) {}
  // On a shared server, the started, unfinished jobs that other live
  // instances hold, oldest first: the ones an idle instance may help with.
  // None on the files.
  virtual std::vector<std::int64_t> JobsToHelp() { return {}; }

  // On a shared server, whether this instance still holds job `id` (0: none)
  // by the token it claimed it with and with more than a margin of its lease
  // left, as last known: no write for a job it does not hold lands. Always
  // true on the files, which one instance owns.
  virtual bool Holds(std::int64_t /*id*/) { return true; }
  // Asks the server whether job `id` is still this instance's: its row names
  // this instance as holder with the token it holds it by, and it is
  // unfinished. Held: its lease (and those of the claims this instance holds
  // on its sites) is renewed now, and Holds is true again at once, so that a
  // holder whose renewals failed while the server was away goes on when
  // nobody took the job meanwhile. Lost: the job is forgotten. Throws a
  // StorageError while the server cannot be asked. Always Held on the files.
  virtual HoldCheck CheckHold(std::int64_t /*id*/) { return HoldCheck::Held; }
  // Lets go of job `id` (0: the one this instance claimed for the schedule),
  // which it no longer runs: its lease is not renewed, and is ended now where
  // the server can be reached, so that a claim takes the job up again.
  virtual void Release(std::int64_t /*id*/, ScheduleId /*scheduleId*/) {}
  // Records a trial that sent the release: a job marked trial, without a
  // schedule, finished when written and without a history row (so it is
  // never unfinished, resumed or claimed), with the site's record at
  // position 0, in one transaction. Its outcome is among SiteOutcomes.
  virtual void RecordTrial(const std::string& pressRelease, const SiteRecord& record) = 0;

  // The sites of the job whose history row is `historyId`, in the job's site
  // order; none when no job is known for that row. A store without a journal
  // has none.
  virtual std::vector<SiteOutcome> JobSites(std::int64_t /*historyId*/) { return {}; }
  // The latest `limit` outcomes of `site`, newest first.
  virtual std::vector<SiteOutcome> SiteOutcomes(const std::string& /*site*/, int /*limit*/) {
    return {};
  }
};

}  // namespace veltrane
