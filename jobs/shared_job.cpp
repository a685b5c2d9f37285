// The parts of SubmissionJob that let several instances on a shared server
// run the sites of one job: the claim each site runs under, helping with
// another instance's job, and the job's end once every site has ended,
// wherever it ran.
#include <algorithm>
#include <string>

#include "jobs/submission_job.h"

namespace veltrane {
namespace {

// How often an idle instance asks the server for a job to help with.
constexpr std::chrono::seconds kHelpCheckInterval{2};

// Marks site `position` of a job's list; a place outside the list is ignored.
void Mark(std::vector<bool>& sites, int position) {
  if (position >= 0 && static_cast<std::size_t>(position) < sites.size()) sites[position] = true;
}

}  // namespace

bool SubmissionJob::HelpSubmission() {
  if (!journal_.Shared()) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastHelpCheck_ < kHelpCheckInterval) return false;
  lastHelpCheck_ = now;
  for (const std::int64_t id : journal_.JobsToHelp()) {
    const std::optional<JournalJob> job = journal_.Read(id);
    if (!job || !job->started) continue;
    std::vector<bool> taken(job->sites.size(), false);
    for (const SiteRecord& record : job->ended) Mark(taken, record.position);
    for (const int position : job->elsewhere) Mark(taken, position);
    if (std::all_of(taken.begin(), taken.end(), [](bool site) { return site; })) continue;
    ClearJobLists();
    state_.PressReleaseName = job->pressRelease;
    state_.outcome.Resumed = false;
    if (!loader_.LoadPressRelease(state_, state_.PressReleaseName)) {
      parts_.busy = false;
      continue;
    }
    trace_.TraceLine("Helping with job " + std::to_string(id) +
                     " of schedule ID : " + std::to_string(job->scheduleId));
    helping_ = true;
    sitesElsewhere_ = true;
    scheduleId_ = job->scheduleId;
    jobId_ = id;
    pendingPositions_.clear();
    AddPendingSites(job->sites, taken);
    BeginSites();
    return true;
  }
  return false;
}

bool SubmissionJob::ClaimLaneSite(SiteLane& lane) {
  if (lane.claimed || !journal_.Shared() || jobId_ == 0) return true;
  std::string storeError;
  if (journal_.ClaimSite(jobId_, lane.currentPosition, &storeError)) {
    lane.claimed = true;
    return true;
  }
  if (!storeError.empty()) {
    // As a site whose rows the store cannot give: it waits, then fails.
    if (WaitForStore(lane)) return false;
    lane.siteSteps = SiteSteps("");
    SiteFailed(lane, storeError);
    return false;
  }
  sitesElsewhere_ = true;
  lane.trace->TraceLine("Site " + lane.state->site.CurrentSite + " runs on another instance");
  lane.trace->SetSite("");
  NextSite(lane);
  return false;
}

bool SubmissionJob::SharedSitesSettled() {
  if (trial_ || jobId_ == 0) return true;
  bool failed = false;
  const std::optional<JournalJob> job = journal_.Read(jobId_, &failed);
  if (failed) {
    // With no site run elsewhere the holder reports what it has, kept
    // until the store is back, as without other instances.
    if (!sitesElsewhere_) return true;
    if (helping_)
      EndPartInJob("cannot be read; this instance leaves it");
    else
      othersWait_.SetEnabled(true);
    return false;
  }
  if (!job) {
    EndPartInJob("was reported by another instance");
    return false;
  }
  const std::size_t count = job->sites.size();
  std::vector<bool> ours(count, false), recorded(count, false), running(count, false);
  for (const SiteRecord& record : state_.outcome.Sites) Mark(ours, record.position);
  for (const SiteRecord& record : job->ended) Mark(recorded, record.position);
  for (const int position : job->elsewhere) Mark(running, position);
  std::vector<bool> known(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    running[i] = running[i] && !ours[i];
    sitesElsewhere_ |= !ours[i] && (recorded[i] || running[i]);
    known[i] = ours[i] || recorded[i] || running[i];
  }
  // A site whose claim ran out before it ended runs nowhere now: it is handed out again.
  AddPendingSites(job->sites, known);
  if (!state_.PendingSites.empty()) {
    dispatchAgain_ = true;
    return false;
  }
  if (std::find(running.begin(), running.end(), true) != running.end()) {
    // Whoever ends the last site reports the job; the holder waits for it all the same.
    if (helping_)
      EndPartInJob("goes on elsewhere; this instance has ended its sites");
    else
      othersWait_.SetEnabled(true);
    return false;
  }
  for (const SiteRecord& record : job->ended) {
    if (record.position < 0 || static_cast<std::size_t>(record.position) >= count ||
        ours[record.position])
      continue;
    state_.outcome.Sites.push_back(record);
    mergedElsewhere_ = true;
  }
  return true;
}

void SubmissionJob::EndPartInJob(const std::string& why) {
  trace_.TraceLine("Job " + std::to_string(jobId_) + " of schedule " + std::to_string(scheduleId_) +
                   " " + why);
  keptSitesDelay_ = kFirstStoreRetry;
  WriteKeptSitesOrRetry();
  if (helping_)
    journal_.ReleaseSites(jobId_);
  else
    journal_.Release(jobId_, scheduleId_);
  othersWait_.SetEnabled(false);
  jobId_ = 0;
  helping_ = false;
  state_.JobRunning = false;
  for (auto& lane : lanes_) lane->state->JobRunning = false;
  parts_.busy = false;
}

}  // namespace veltrane
