// JobJournal: the job and job_site tables of db/vt.dat. A job is recorded
// when it starts (the schedule thread may have recorded it already, as
// queued), every site's outcome is committed the moment the site ends, and
// the job is marked finished in the same transaction as its history row. So
// a job cut short by a crash or a kill is found unfinished at the next start
// and can be finished without running its ended sites again.
// It works through the history store (see history_store.h); a failure is
// traced and gives an empty or false result, so a journal that cannot be
// written never stops a job. User-interface thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/schedule_rule.h"
#include "platform/trace.h"
#include "storage/database_files.h"
#include "storage/history_store.h"

namespace veltrane {

class JobJournal {
 public:
  // The journal of the store at `paths`.
  JobJournal(const DatabasePaths& paths, TraceSink& trace);

  // Ids of the jobs whose history row was never written, oldest first.
  std::vector<std::int64_t> UnfinishedJobs();
  // The job while it is unfinished; none once its history row is written,
  // or when the store cannot be read (then `failed` is set, where given).
  std::optional<JournalJob> Read(std::int64_t id, bool* failed = nullptr);

  // Records the start of a job of `scheduleId`: job `id` when given (a queued
  // job taken up at start-up), else the oldest queued job of that schedule,
  // else a new one. Gives the job's id, 0 when nothing could be written.
  std::int64_t Start(std::int64_t id, ScheduleId scheduleId, const std::string& pressRelease,
                     const std::vector<std::string>& sites, double now);
  // A queued job that could not start (its rows are gone): finished without history.
  void Drop(std::int64_t id, ScheduleId scheduleId, double now);
  // Marks site `position` of the job as sending its release from `address`,
  // committed before it returns, so that a job cut short from here on does
  // not send that site again when it is resumed. Ends kept before are
  // written first. False when nothing was marked (no journal, the store is
  // away, or the job is held by another instance); that is traced, and the
  // caller goes on.
  bool MarkSubmitting(std::int64_t job, int position, const std::string& site,
                      const std::string& address, double now);
  // A site's end that cannot be written (the store is unreachable, say) is
  // kept and written before the next one, or by WriteKeptSites, so that it
  // lands once the store is back. False while anything is kept. The same
  // failure again is not traced again.
  bool RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record);
  bool WriteKeptSites();
  // Records, before its release is sent, a site still running as ended with
  // its outcome unknown (HistoryStore::RecordSiteInDoubt), after what is
  // kept. False when it did not land (traced): the release must not go.
  bool RecordInDoubt(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record);

  // On a shared server (see HistoryStore): several instances run the sites
  // of one job, each site under a claim. Whether this store is one.
  bool Shared() const { return shared_; }
  // False when the site is not this instance's to run, or when the store is
  // away: then `storeError` says why.
  bool ClaimSite(std::int64_t job, int position, std::string* storeError);
  void ReleaseSites(std::int64_t job);
  std::vector<std::int64_t> JobsToHelp();
  // On a shared server, whether this instance still holds job `job` (see
  // HistoryStore::Holds); always on the files.
  bool Holds(std::int64_t job);
  // Lets go of a job this instance stops running (0: the one claimed for the
  // schedule); what was kept of it is not written.
  void Release(std::int64_t job, ScheduleId scheduleId);

 private:
  struct KeptSite {
    std::int64_t job;
    ScheduleId scheduleId;
    SiteRecord record;
  };

  std::unique_ptr<HistoryStore> store_;
  bool shared_ = false;
  std::deque<KeptSite> kept_;
  std::string lastKeptError_;  // the failure traced when a kept end was last tried
  TraceSink& trace_;
};

}  // namespace veltrane
