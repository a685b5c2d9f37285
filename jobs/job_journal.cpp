#include "jobs/job_journal.h"

#include <algorithm>
#include <utility>

#include "storage/stores.h"

namespace veltrane {

JobJournal::JobJournal(const DatabasePaths& paths, TraceSink& trace)
    : store_(MakeHistoryStore(paths)), shared_(!paths.server.empty()), trace_(trace) {}

std::vector<std::int64_t> JobJournal::UnfinishedJobs() {
  try {
    return store_->UnfinishedJobs();
  } catch (const StorageError&) {
    // No journal yet (a database made before it): nothing was left unfinished.
    return {};
  }
}

std::optional<JournalJob> JobJournal::Read(std::int64_t id, bool* failed) {
  try {
    return store_->ReadJob(id);
  } catch (const StorageError& error) {
    if (failed) *failed = true;
    trace_.TraceLine("Cannot read job " + std::to_string(id) + " : " + error.Message());
    return std::nullopt;
  }
}

std::int64_t JobJournal::Start(std::int64_t id, ScheduleId scheduleId,
                               const std::string& pressRelease,
                               const std::vector<std::string>& sites, double now) {
  try {
    return store_->StartJob(id, scheduleId, pressRelease, sites, now);
  } catch (const StorageError& error) {
    trace_.TraceLine(std::string("Cannot record the job's start : ") + error.Message());
    return 0;
  }
}

void JobJournal::Drop(std::int64_t id, ScheduleId scheduleId, double now) {
  try {
    store_->DropJob(id, scheduleId, now);
  } catch (const StorageError& error) {
    // The job is tried again at the next start.
    trace_.TraceLine("Cannot record that job " + std::to_string(id) +
                     " was dropped : " + error.Message());
  }
}

bool JobJournal::MarkSubmitting(std::int64_t job, int position, const std::string& site,
                                const std::string& address, double now) {
  if (job == 0) return false;
  WriteKeptSites();
  try {
    if (store_->MarkSubmitting(job, {position, address, now})) return true;
    trace_.TraceLine("Cannot record that site " + site + " is submitting : job " +
                     std::to_string(job) + " is not held by this instance");
  } catch (const StorageError& error) {
    trace_.TraceLine("Cannot record that site " + site + " is submitting : " + error.Message());
  }
  return false;
}

bool JobJournal::RecordSite(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) {
  if (job == 0) return false;
  kept_.push_back({job, scheduleId, record});
  return WriteKeptSites();
}

bool JobJournal::RecordInDoubt(std::int64_t job, ScheduleId scheduleId, const SiteRecord& record) {
  const std::string failure = "Cannot record that site " + record.site + " is submitting : ";
  if (job == 0 || !WriteKeptSites()) return false;
  try {
    if (store_->RecordSiteInDoubt(job, scheduleId, record)) return true;
    trace_.TraceLine(failure + "neither job " + std::to_string(job) +
                     " nor the site is held by this instance");
  } catch (const StorageError& error) {
    trace_.TraceLine(failure + error.Message());
  }
  return false;
}

bool JobJournal::ClaimSite(std::int64_t job, int position, std::string* storeError) {
  try {
    return store_->ClaimSite(job, position);
  } catch (const StorageError& error) {
    if (storeError) *storeError = error.Message();
    return false;
  }
}

void JobJournal::ReleaseSites(std::int64_t job) { store_->ReleaseSites(job); }

std::vector<std::int64_t> JobJournal::JobsToHelp() {
  try {
    return store_->JobsToHelp();
  } catch (const StorageError&) {
    return {};  // the poll traces what keeps the server away
  }
}

bool JobJournal::Holds(std::int64_t job) { return store_->Holds(job); }

void JobJournal::Release(std::int64_t job, ScheduleId scheduleId) {
  // Site ends kept for a job that is no longer this instance's are not written.
  kept_.erase(std::remove_if(kept_.begin(), kept_.end(),
                             [job](const KeptSite& site) { return site.job == job; }),
              kept_.end());
  store_->Release(job, scheduleId);
}

bool JobJournal::WriteKeptSites() {
  while (!kept_.empty()) {
    const KeptSite& site = kept_.front();
    try {
      // False: the job was taken over, and its end is the new holder's to record.
      store_->RecordSite(site.job, site.scheduleId, site.record);
    } catch (const StorageError& error) {
      std::string text =
          "Cannot record the end of site " + site.record.site + " : " + error.Message();
      if (text != lastKeptError_) trace_.TraceLine(text);
      lastKeptError_ = std::move(text);
      return false;
    }
    kept_.pop_front();
  }
  lastKeptError_.clear();
  return true;
}

}  // namespace veltrane
