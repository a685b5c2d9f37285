#include "jobs/submission_job.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "engine/form_location.h"
#include "engine/login_hosts.h"
#include "engine/navigation_guards.h"
#include "engine/page_needs.h"
#include "engine/site_script.h"
#include "engine/step_engine.h"
#include "forms/form_filling.h"
#include "jobs/failed_sites_line.h"
#include "jobs/report.h"
#include "platform/date_text.h"
#include "platform/locale_dates.h"
#include "platform/paths.h"
#include "platform/text_lists.h"

namespace veltrane {
SubmissionJob::SubmissionJob(SubmissionJobParts parts)
    : parts_(std::move(parts)),
      trace_(parts_.trace),
      loader_(parts_.paths, trace_, parts_.clock),
      journal_(parts_.paths, trace_) {
  // Taken now, before the schedule thread queues anything of this run.
  for (std::int64_t id : journal_.UnfinishedJobs()) resumable_.push_back(id);
  const std::size_t count = parts_.moreLanes.size() + 1;
  AddLane(
      LaneParts{&parts_.browser, parts_.setTimerEnabled, parts_.failedPageCapture, &parts_.panel2},
      count);
  for (const LaneParts& lane : parts_.moreLanes) AddLane(lane, count);
  if (count > 1) hostLoader_ = std::make_unique<JobDataLoader>(parts_.paths, quiet_, parts_.clock);
}

void SubmissionJob::AddLane(LaneParts parts, std::size_t count) {
  auto lane = std::make_unique<SiteLane>();
  lane->parts = std::move(parts);
  if (!lane->parts.panel) lane->parts.panel = &lane->noPanel;
  const int number = static_cast<int>(lanes_.size()) + 1;
  if (count == 1) {
    // One lane: the job's own run and trace, as without lanes.
    lane->state = &state_;
    lane->trace = &trace_;
    lane->loader = &loader_;
  } else {
    if (number == 1) {
      lane->state = &state_;
    } else {
      lane->ownState = std::make_unique<JobState>();
      lane->state = lane->ownState.get();
    }
    lane->prefixed = std::make_unique<LaneTrace>(parts_.trace, number);
    lane->ownTrace = std::make_unique<RedactingTrace>(*lane->prefixed);
    lane->trace = lane->ownTrace.get();
    lane->ownLoader = std::make_unique<JobDataLoader>(parts_.paths, *lane->trace, parts_.clock);
    lane->loader = lane->ownLoader.get();
  }
  SiteLane& self = *lane;
  lane->storeRetry = std::make_unique<UiTimer>(0, false, [this, &self] { RetrySiteLoad(self); });
  lanes_.push_back(std::move(lane));
}

bool SubmissionJob::StartSubmission(ScheduleId scheduleId) { return StartJob(scheduleId, 0); }

bool SubmissionJob::StartJob(ScheduleId scheduleId, std::int64_t queuedJob) {
  trace_.TraceLine("Submission started for ID : " + std::to_string(scheduleId));
  trace_.TraceLine("Current PR : " + state_.PressReleaseName);
  ClearJobLists();
  state_.PressReleaseName.clear();
  state_.outcome.Resumed = false;
  if (!loader_.LoadSchedule(state_, scheduleId) ||
      !loader_.LoadPressRelease(state_, state_.PressReleaseName)) {
    journal_.Drop(queuedJob, scheduleId, parts_.clock.Now());
    parts_.busy = false;
    return false;
  }
  scheduleId_ = scheduleId;
  jobId_ = journal_.Start(queuedJob, scheduleId, state_.PressReleaseName, state_.PendingSites,
                          parts_.clock.Now());
  if (jobId_ == 0 && !journal_.Holds(0)) {
    // On a shared server a job runs only under its claim: one whose start
    // cannot be recorded is let go at once, for a claim to take up again.
    trace_.TraceLine("Job of schedule " + std::to_string(scheduleId) +
                     " not started: its start could not be recorded; it is left to be claimed "
                     "again");
    journal_.Release(0, scheduleId);
    parts_.busy = false;
    return false;
  }
  pendingPositions_.clear();
  for (std::size_t i = 0; i < state_.PendingSites.size(); ++i)
    pendingPositions_.push_back(static_cast<int>(i));
  BeginSites();
  return true;
}

void SubmissionJob::ClearJobLists() {
  parts_.busy = true;
  helping_ = false;
  mergedElsewhere_ = false;
  sitesElsewhere_ = false;
  othersWait_.SetEnabled(false);
  state_.PendingSites.clear();
  state_.outcome.Sites.clear();
  state_.release.SiteCategories.clear();
}

bool SubmissionJob::ResumeSubmission() {
  while (!resumable_.empty()) {
    const std::int64_t id = resumable_.front();
    resumable_.pop_front();
    const std::optional<JournalJob> job = journal_.Read(id);
    if (!job) continue;
    if (!job->started) {
      // Queued before the last run ended: it never began, so it simply runs now.
      if (StartJob(job->scheduleId, id)) return true;
      continue;
    }
    if (ResumeJob(*job)) return true;
  }
  return false;
}

bool SubmissionJob::TakeOverSubmission(std::int64_t jobId) {
  resumable_.push_front(jobId);
  return ResumeSubmission();
}

bool SubmissionJob::ResumeJob(const JournalJob& job) {
  trace_.TraceLine("Resuming interrupted job " + std::to_string(job.id) +
                   " of schedule ID : " + std::to_string(job.scheduleId));
  ClearJobLists();
  state_.PressReleaseName = job.pressRelease;
  state_.outcome.Resumed = true;
  scheduleId_ = job.scheduleId;
  jobId_ = job.id;
  std::vector<bool> ended(job.sites.size(), false);
  for (const SiteRecord& record : job.ended) {
    if (record.position >= 0 && record.position < static_cast<int>(ended.size()))
      ended[record.position] = true;
  }
  // A site another instance still runs may have a record in doubt: its end
  // is taken when the job ends, not now.
  for (const SiteRecord& record : job.ended)
    if (std::find(job.elsewhere.begin(), job.elsewhere.end(), record.position) ==
        job.elsewhere.end())
      state_.outcome.Sites.push_back(record);
  if (job.submitting) EndInterruptedSubmission(job, ended);
  pendingPositions_.clear();
  AddPendingSites(job.sites, ended);
  if (!state_.PendingSites.empty() && !loader_.LoadPressRelease(state_, state_.PressReleaseName)) {
    // Without its release the rest cannot run; they are reported, not lost.
    for (std::size_t i = 0; i < state_.PendingSites.size(); ++i) {
      SiteRecord record;
      record.position = pendingPositions_[i];
      record.site = state_.PendingSites[i];
      record.reason = "Press release not found";
      state_.outcome.Sites.push_back(std::move(record));
    }
    state_.PendingSites.clear();
    pendingPositions_.clear();
  }
  BeginSites();
  return true;
}

void SubmissionJob::EndInterruptedSubmission(const JournalJob& job, std::vector<bool>& ended) {
  const SubmittingMark& mark = *job.submitting;
  if (mark.position < 0 || mark.position >= static_cast<int>(ended.size()) || ended[mark.position])
    return;
  // Its release may have reached the site: sending it again could post it
  // twice, so the site is reported failed and the operator decides.
  ended[mark.position] = true;
  SiteRecord record;
  record.position = mark.position;
  record.site = job.sites[mark.position];
  record.reason = "Outcome unknown (interrupted while submitting)";
  record.started = mark.since;
  record.ended = parts_.clock.Now();
  record.lastUrl = mark.address;
  trace_.TraceLine(record.reason + " : " + record.site + ", sent from " + mark.address + " at " +
                   ShortDateLongTimeText(mark.since));
  journal_.RecordSite(job.id, job.scheduleId, record);
  state_.outcome.Sites.push_back(std::move(record));
}

bool SubmissionJob::TrySite(SiteTrial trial) {
  trace_.TraceLine("Trial of site " + trial.site + " with press release " + trial.pressRelease);
  ClearJobLists();
  state_.outcome.Resumed = false;
  if (!loader_.LoadPressRelease(state_, trial.pressRelease)) {
    parts_.busy = false;
    return false;
  }
  state_.PressReleaseName = trial.pressRelease;
  scheduleId_ = 0;
  jobId_ = 0;  // nothing of a trial reaches the journal
  state_.PendingSites = {trial.site};
  pendingPositions_ = {0};
  trial_ = std::move(trial);
  BeginSites();
  return true;
}

int SubmissionJob::SitesInHand() const {
  return static_cast<int>(
      std::count_if(lanes_.begin(), lanes_.end(), [](const auto& lane) { return lane->holding; }));
}

std::string SubmissionJob::OpenSites() const {
  std::string sites;
  for (const auto& lane : lanes_)
    if (lane->siteOpen) sites += (sites.empty() ? "" : ", ") + lane->state->site.CurrentSite;
  return sites;
}

void SubmissionJob::AddPendingSites(const std::vector<std::string>& sites,
                                    const std::vector<bool>& skip) {
  for (std::size_t i = 0; i < sites.size(); ++i) {
    if (i < skip.size() && skip[i]) continue;
    state_.PendingSites.push_back(sites[i]);
    pendingPositions_.push_back(static_cast<int>(i));
  }
}

void SubmissionJob::BeginSites() {
  parts_.busy = true;
  state_.JobRunning = true;
  hosts_.clear();
  for (auto& lane : lanes_) {
    if (lane->ownState) {
      // Each lane fills in the release for its sites as the first lane does.
      lane->ownState->release = state_.release;
      lane->ownState->PressReleaseName = state_.PressReleaseName;
      lane->ownState->JobRunning = true;
    }
  }
  Dispatch();
}

void SubmissionJob::Dispatch() {
  if (dispatching_) {
    // A site that ended while a lane was being handed one: looked at once more.
    dispatchAgain_ = true;
    return;
  }
  dispatching_ = true;
  do {
    dispatchAgain_ = false;
    DispatchOnce();
  } while (dispatchAgain_);
  dispatching_ = false;
}

void SubmissionJob::DispatchOnce() {
  if (!state_.JobRunning) return;
  if (!StillHeld()) return;
  const bool anyHeld =
      std::any_of(lanes_.begin(), lanes_.end(), [](const auto& lane) { return lane->holding; });
  if (state_.PendingSites.empty() && anyHeld) return;
  if (state_.PendingSites.empty() && trial_) {
    trace_.TraceLine("Trial completed");
    state_.JobRunning = false;
    parts_.busy = false;
    const SiteTrial trial = std::move(*trial_);
    trial_.reset();
    if (trial.ended && !state_.outcome.Sites.empty()) trial.ended(state_.outcome.Sites.back());
    return;
  }
  if (state_.PendingSites.empty() && journal_.Shared() && !SharedSitesSettled()) return;
  if (state_.PendingSites.empty()) {
    trace_.TraceLine("Submission completed");
    // Sites run at once end in any order; the report keeps the list's.
    if (lanes_.size() > 1 || mergedElsewhere_)
      std::stable_sort(
          state_.outcome.Sites.begin(), state_.outcome.Sites.end(),
          [](const SiteRecord& a, const SiteRecord& b) { return a.position < b.position; });
    const std::string failed =
        FailedSitesLine(scheduleId_, state_.PressReleaseName, state_.outcome.Sites);
    if (!failed.empty()) trace_.TraceLine(failed);
    // A site's end kept while the store was away goes first; if the store is
    // still away, it goes once the store is back.
    keptSitesDelay_ = kFirstStoreRetry;
    WriteKeptSitesOrRetry();
    SaveReport(state_, parts_.paths, trace_, parts_.clock, jobId_);
    jobId_ = 0;
    state_.JobRunning = false;
    for (auto& lane : lanes_) lane->state->JobRunning = false;
    parts_.busy = false;
    return;
  }
  // A trial runs on the first lane alone.
  const std::size_t usable = trial_ ? 1 : lanes_.size();
  for (std::size_t i = 0; i < usable && !state_.PendingSites.empty(); ++i) {
    SiteLane& lane = *lanes_[i];
    if (lane.holding) continue;
    const std::optional<std::size_t> next = NextStartable();
    if (!next) return;
    StartSite(lane, *next);
    if (!state_.JobRunning) return;
  }
  // Every site left was run elsewhere: the job's end is looked at again.
  if (state_.PendingSites.empty() &&
      std::none_of(lanes_.begin(), lanes_.end(), [](const auto& l) { return l->holding; }))
    dispatchAgain_ = true;
}

std::optional<std::size_t> SubmissionJob::NextStartable() {
  if (state_.PendingSites.empty()) return std::nullopt;
  if (lanes_.size() == 1) return 0;
  const std::size_t limit = static_cast<std::size_t>(std::max(parts_.perHost, 1));
  for (std::size_t i = 0; i < state_.PendingSites.size(); ++i) {
    const int position = i < pendingPositions_.size() ? pendingPositions_[i] : 0;
    const std::string host = HostOfSite(position, state_.PendingSites[i]);
    if (host.empty()) return i;
    const auto busy = std::count_if(lanes_.begin(), lanes_.end(), [&](const auto& lane) {
      return lane->holding && lane->host == host;
    });
    if (static_cast<std::size_t>(busy) < limit) return i;
  }
  return std::nullopt;
}

std::string SubmissionJob::HostOfSite(int position, const std::string& site) {
  const auto known = hosts_.find(position);
  if (known != hosts_.end()) return known->second;
  // A site whose rows cannot be read has no host to wait for: its lane finds
  // out why when it starts it.
  const SiteLoad load = hostLoader_->LoadSite(hostLookup_, site);
  if (load.StoreFailed()) return "";
  std::string host = HostOfAddress(hostLookup_.site.SiteUrl);
  hostLookup_.site = SiteRun{};
  hosts_.emplace(position, host);
  return host;
}

void SubmissionJob::StartSite(SiteLane& lane, std::size_t index) {
  JobState& state = *lane.state;
  state.AwaitRedirect = false;
  state.site.CurrentSite = state_.PendingSites[index];
  state_.PendingSites.erase(state_.PendingSites.begin() + static_cast<std::ptrdiff_t>(index));
  lane.currentPosition = index < pendingPositions_.size() ? pendingPositions_[index] : 0;
  if (index < pendingPositions_.size())
    pendingPositions_.erase(pendingPositions_.begin() + static_cast<std::ptrdiff_t>(index));
  const auto host = hosts_.find(lane.currentPosition);
  lane.host = host == hosts_.end() ? "" : host->second;
  lane.holding = true;
  lane.siteOpen = true;
  lane.claimed = false;
  lane.submitting = false;
  ++lane.siteSerial;
  lane.siteStarted = parts_.clock.Now();
  lane.evidence = SiteEvidence{};
  lane.trace->TraceLine(std::string(69, '-'));
  lane.trace->TraceLine("Current site : " + state.site.CurrentSite);
  lane.trace->SetSite(state.site.CurrentSite);
  lane.requestGuard.reset();
  lane.refusedHosts.clear();
  state.site.SiteScript.clear();
  lane.navigatedThisSite = false;
  lane.storeRetryDelay = kFirstStoreRetry;
  LoadAndStartSite(lane);
}

void SubmissionJob::NextSite(SiteLane& lane) {
  // A page or timer event left over from the site before must not be taken
  // as a redirect of the lane's next one.
  lane.state->AwaitRedirect = false;
  lane.siteOpen = false;
  lane.submitting = false;
  lane.host.clear();
  // The lane stays held until the site's page is gone: it takes no site, and
  // the job does not end.
  const bool leaving = LeaveSitePage(lane, [this, &lane, serial = lane.siteSerial] {
    if (serial != lane.siteSerial || lane.siteOpen || !lane.holding) return;
    lane.holding = false;
    Dispatch();
  });
  if (leaving) return;
  lane.holding = false;
  Dispatch();
}

bool SubmissionJob::LeaveSitePage(SiteLane& lane, std::function<void()> left) {
  // A trial keeps its page to picture.
  if (trial_ || !std::exchange(lane.navigatedThisSite, false)) return false;
  // The site's page goes before anything else happens, so that no timer of
  // it runs later; its login guard holds until it is gone.
  lane.parts.browser->LeavePage(std::move(left));
  return true;
}

void SubmissionJob::LoadAndStartSite(SiteLane& lane) {
  if (!ClaimLaneSite(lane)) return;
  JobState& state = *lane.state;
  RedactingTrace& trace = *lane.trace;
  const SiteLoad site = lane.loader->LoadSite(state, state.site.CurrentSite);
  // A store error says nothing about the rows: the site waits for the store.
  if (site.StoreFailed() && WaitForStore(lane)) return;
  lane.siteSteps = SiteSteps(state.site.SiteScript);
  trace.SetSecret(state.site.login.Password, state.site.SiteScript);
  trace.TraceLine("submission_data : " + trace.Outside(state.site.SiteScript));
  trace.TraceLine("extra_data : " + trace.Outside(site.extraData));
  if (site.StoreFailed()) {
    SiteFailed(lane, site.storeError);
    return;
  }
  if (!site.SubscriptionFound()) {
    // Without its own row the site has no address or script to run: it fails
    // at once rather than running on another site's address and login.
    SiteFailed(lane, "Cant find info for subscription '" + state.site.CurrentSite + "'");
    return;
  }
  if (state.site.SiteScript.find('\0') != std::string::npos) {
    // Every reader before would have stopped there, success check and all.
    SiteFailed(lane, "Site script contains a NUL byte");
    return;
  }
  if (!lane.siteSteps.Step(1).present) {
    // Nothing would be submitted, and the end of the script would count as success.
    SiteFailed(lane, "Site script has no steps");
    return;
  }
  state.site.StepNumber = 1;
  LoadStep(state, lane.siteSteps, 1);
  trace.TraceLine("Navigate to : " + trace.Outside(state.site.SiteUrl));
  lane.navigatedThisSite = true;
  lane.parts.browser->Navigate(state.site.SiteUrl);
  ArmDeadline(lane);
}

bool SubmissionJob::WaitForStore(SiteLane& lane) {
  constexpr double kMsPerDay = 86400000.0;
  const double left = lane.siteStarted + parts_.pageDeadline - parts_.clock.Now();
  if (left <= 0.0) return false;
  const auto delay =
      std::min(lane.storeRetryDelay,
               std::chrono::milliseconds(static_cast<long long>(left * kMsPerDay) + 1));
  if (lane.storeRetryDelay == kFirstStoreRetry)
    lane.trace->TraceLine("Waiting for the database to load site " + lane.state->site.CurrentSite);
  lane.storeRetryDelay = std::min(lane.storeRetryDelay * 2, kLastStoreRetry);
  // Not open while it waits: a late page or tick of the site before finds nothing to end.
  lane.siteOpen = false;
  lane.storeRetry->SetInterval(static_cast<unsigned>(delay.count()));
  lane.storeRetry->SetEnabled(true);
  return true;
}

void SubmissionJob::RetrySiteLoad(SiteLane& lane) {
  lane.storeRetry->SetEnabled(false);
  // The job may have been stopped meanwhile (taken over): nothing is left to load.
  if (!lane.holding) return;
  lane.siteOpen = true;
  // A timer has nobody above it to catch an error: the site ends with it.
  try {
    LoadAndStartSite(lane);
  } catch (const std::exception& error) {
    lane.trace->TraceLine(std::string("Site ") + lane.state->site.CurrentSite +
                          " could not be started : " + error.what());
    if (lane.siteOpen) SiteFailed(lane, error.what());
  }
}

void SubmissionJob::WriteKeptSitesOrRetry() {
  keptSitesRetry_.SetEnabled(false);
  if (journal_.WriteKeptSites()) return;
  keptSitesRetry_.SetInterval(static_cast<unsigned>(keptSitesDelay_.count()));
  keptSitesRetry_.SetEnabled(true);
  keptSitesDelay_ = std::min(keptSitesDelay_ * 2, kLastKeptSitesRetry);
}

bool SubmissionJob::EndSite(SiteLane& lane, bool completed, const std::string& reason) {
  JobState& state = *lane.state;
  RedactingTrace& trace = *lane.trace;
  if (!lane.siteOpen) {
    trace.TraceLine("Site " + state.site.CurrentSite + " has ended already");
    return false;
  }
  lane.siteOpen = false;
  state.AwaitRedirect = false;
  lane.loginInFlight = false;
  lane.watching = SiteLane::Watching::Idle;
  trace.SetSite("");
  DisarmDeadline(lane);
  SiteRecord record;
  record.position = lane.currentPosition;
  record.site = state.site.CurrentSite;
  record.completed = completed;
  record.reason = reason;
  record.started = lane.siteStarted;
  record.ended = parts_.clock.Now();
  record.lastUrl = lane.navigatedThisSite ? trace.Outside(lane.parts.browser->LocationURL()) : "";
  // The step the site ended on is the one whose success text was checked or awaited.
  lane.evidence.successText =
      trace.Outside(lane.siteSteps.Step(state.site.StepNumber).directives.successString);
  record.evidence = lane.evidence;
  journal_.RecordSite(jobId_, scheduleId_, record);
  // The record clears the site's submitting mark: another lane may send its release now.
  lane.submitting = false;
  state_.outcome.Sites.push_back(std::move(record));
  return true;
}

void SubmissionJob::SiteSucceeded(SiteLane& lane) {
  if (EndSite(lane, true, "")) NextSite(lane);
}

void SubmissionJob::SiteFailed(SiteLane& lane, const std::string& reason) {
  if (!EndSite(lane, false, reason)) return;
  // The page of a site that never navigated is not its own: nothing to capture.
  if (lane.parts.failedPageCapture && lane.navigatedThisSite) {
    // The name the capture gives its file, from the same clock read at once;
    // the site's record gains it.
    const std::string& site = lane.state->site.CurrentSite;
    SiteRecord& record = state_.outcome.Sites.back();
    record.evidence.screenshot =
        DateStampText(parts_.clock.Now()) + "-" + FileNameSafe(site) + ".png";
    journal_.RecordSite(jobId_, scheduleId_, record);
    // Nothing can end the site again meanwhile, and only this capture's own
    // end lets the lane take its next site.
    lane.parts.failedPageCapture->Capture(site, [this, &lane, serial = lane.siteSerial] {
      if (serial == lane.siteSerial && !lane.siteOpen && lane.holding) NextSite(lane);
    });
    return;
  }
  NextSite(lane);
}

void SubmissionJob::ArmDeadline(SiteLane& lane) {
  lane.state->PageDeadline = parts_.clock.Now() + parts_.pageDeadline;
  lane.state->PageWaitOver = false;
  lane.parts.setTimerEnabled(true);
}

void SubmissionJob::DisarmDeadline(SiteLane& lane) {
  lane.state->PageDeadline = parts_.clock.Now();
  lane.state->PageWaitOver = true;
  lane.parts.setTimerEnabled(false);
}

void SubmissionJob::TimerTimeoutTimer(std::size_t index) {
  SiteLane& lane = *lanes_[index];
  if (!lane.siteOpen) return;
  if (parts_.clock.Now() > lane.state->PageDeadline) {
    DisarmDeadline(lane);
    SiteFailed(lane, "Timeout");
  }
}

void SubmissionJob::DocumentComplete(Page& page, std::size_t index) {
  SiteLane& lane = *lanes_[index];
  lane.parts.panel->Hide();
  // A late page of a site that has ended, or a page between jobs, changes nothing.
  if (!lane.siteOpen) return;
  ++lane.evidence.pages;
  lane.evidence.lastStatus = page.statusCode;
  // A page a server answered follows the failure; the browser's error page does not.
  if (page.statusCode != 0) lane.evidence.networkError.clear();
  // A form of this page sends the login in the page's encoding.
  lane.trace->NoteCharacterSet(page.characterSet);
  lane.watching = SiteLane::Watching::Idle;
  JudgePage(lane, page, false);
}

void SubmissionJob::PageSettled(Page& page, const PageChange& change, std::size_t index) {
  SiteLane& lane = *lanes_[index];
  using Watching = SiteLane::Watching;
  if (!lane.siteOpen || lane.watching == Watching::Idle) return;
  const Watching watched = std::exchange(lane.watching, Watching::Idle);
  // A list's step runs again once whatever came, with the options the page
  // has now; a list still without its option takes index 1.
  if (!change.Any() && watched != Watching::Lists) {
    SiteFailed(
        lane, watched == Watching::Submission ? "Nothing happened after submit" : lane.heldFailure);
    return;
  }
  if (change.Any())
    lane.trace->TraceLine("Page updated in place : " + lane.trace->Outside(page.location));
  JudgePage(lane, page, watched != Watching::Submission);
}

void SubmissionJob::JudgePage(SiteLane& lane, Page& page, bool settled) {
  using Watching = SiteLane::Watching;
  // The step may send a form: not for a job another instance runs now.
  if (!StillHeld()) return;
  JobState& state = *lane.state;
  RedactingTrace& trace = *lane.trace;
  const StepContext context{settled, trial_ && trial_->holdSubmission};
  const StepDecision decision =
      BrowserDocumentComplete(state, lane.siteSteps, page, trace, parts_.random, context);
  if (decision.kind == StepDecision::Kind::NotAwaited) return;
  if (!decision.missingControls.empty()) {
    if (!lane.evidence.notes.empty()) lane.evidence.notes += "; ";
    lane.evidence.notes +=
        "form changed: missing " + trace.Outside(CommaList(decision.missingControls));
  }
  // From now until the site ends, no request of the view may leave the
  // site's origins; guarded before the page's writes are replayed. The form
  // step has advanced: its own is the one before.
  if (decision.loginFilled) {
    lane.requestGuard.emplace(
        state.site.SiteUrl,
        lane.siteSteps.Step(state.site.StepNumber - 1).directives.credentialHosts);
    lane.parts.browser->GuardRequests(lane.requestGuard->Rules());
  }
  if (decision.loginSent) lane.loginInFlight = true;
  if (decision.held) {
    if (trial_->held) trial_->held(page, decision.form, decision.button);
    if (EndSite(lane, false, decision.text)) NextSite(lane);
    return;
  }
  // Committed before the form goes: its click is replayed once this returns.
  if (decision.releaseSent && !MarkSubmitting(lane, trace.Outside(page.location))) {
    page.TakeActions();  // nothing of the form goes
    trace.TraceLine("Release not sent to " + state.site.CurrentSite +
                    ": its claim is no longer this instance's");
    StopLane(lane);
    NextSite(lane);
    return;
  }
  DisarmDeadline(lane);
  switch (decision.kind) {
    case StepDecision::Kind::NotAwaited: return;
    case StepDecision::Kind::WaitForPage:
      ArmDeadline(lane);
      // A page that sends the form by script may stay where it is.
      if (decision.form >= 0) {
        lane.watching = Watching::Submission;
        lane.parts.browser->WatchPage(kSubmitSettleTime, kWatchBound);
      }
      return;
    case StepDecision::Kind::WaitForRedirect:
      state.AwaitRedirect = true;
      ArmDeadline(lane);
      return;
    case StepDecision::Kind::Navigate:
      lane.parts.browser->Navigate(decision.text);
      ArmDeadline(lane);
      return;
    case StepDecision::Kind::WatchFirst:
      ArmDeadline(lane);
      lane.watching = Watching::Lists;
      lane.parts.browser->WatchPage(std::chrono::milliseconds(0), kWatchBound);
      return;
    case StepDecision::Kind::Succeeded: SiteSucceeded(lane); return;
    case StepDecision::Kind::Failed:
      if (decision.pageMayMoveOn && !settled) {
        HoldFailureWhilePageMayMoveOn(lane, decision.text);
        return;
      }
      SiteFailed(lane, decision.text);
      return;
  }
}

bool SubmissionJob::MarkSubmitting(SiteLane& lane, const std::string& address) {
  const bool otherSending = std::any_of(lanes_.begin(), lanes_.end(), [&](const auto& other) {
    return other.get() != &lane && other->submitting;
  });
  lane.submitting = true;
  if (!otherSending && !helping_) {
    journal_.MarkSubmitting(jobId_, lane.currentPosition, lane.state->site.CurrentSite, address,
                            parts_.clock.Now());
    return true;
  }
  // The job's mark names one site of the holder's. Another sending meanwhile,
  // or one sent by an instance that helps, is journaled as ended with its
  // outcome unknown, which its real end replaces: a job cut short from here
  // on does not send it again either.
  SiteRecord record;
  record.position = lane.currentPosition;
  record.site = lane.state->site.CurrentSite;
  record.reason = "Outcome unknown (interrupted while submitting)";
  record.started = lane.siteStarted;
  record.ended = parts_.clock.Now();
  record.lastUrl = address;
  return journal_.RecordInDoubt(jobId_, scheduleId_, record) || !helping_;
}

void SubmissionJob::StopLane(SiteLane& lane) {
  lane.trace->SetSite("");
  lane.siteOpen = false;
  lane.holding = false;
  lane.submitting = false;
  ++lane.siteSerial;  // a screenshot still under way starts no next site
  lane.state->AwaitRedirect = false;
  lane.loginInFlight = false;
  lane.watching = SiteLane::Watching::Idle;
  lane.storeRetry->SetEnabled(false);
  DisarmDeadline(lane);
}

bool SubmissionJob::StillHeld() {
  // An instance that helps holds its sites' claims, not the job: each of its
  // writes and releases is fenced by the site's claim instead.
  if (trial_ || helping_ || journal_.Holds(jobId_)) return true;
  // On a shared server an instance that helped may have reported the job
  // while this one waited for its sites: the job is over, not taken over.
  bool unreadable = false;
  if (journal_.Shared() && !journal_.Read(jobId_, &unreadable) && !unreadable) {
    EndPartInJob("was reported by another instance");
    return false;
  }
  // Nothing more of it is written or sent from here: its sites are left open
  // for the instance that took the job over.
  trace_.SetSite("");
  trace_.TraceLine("Job " + std::to_string(jobId_) + " of schedule " + std::to_string(scheduleId_) +
                   " was taken over by another instance; this instance stops it");
  othersWait_.SetEnabled(false);
  for (auto& lane : lanes_) {
    StopLane(*lane);
    lane->state->JobRunning = false;
    LeaveSitePage(*lane, [] {});
  }
  journal_.Release(jobId_, scheduleId_);
  jobId_ = 0;
  state_.PendingSites.clear();
  pendingPositions_.clear();
  state_.JobRunning = false;
  parts_.busy = false;
  return false;
}

void SubmissionJob::HoldFailureWhilePageMayMoveOn(SiteLane& lane, const std::string& reason) {
  // The step stays current: a page that arrives meanwhile is judged by it,
  // and one on its way is waited for within the page deadline.
  ArmDeadline(lane);
  lane.watching = SiteLane::Watching::Failure;
  lane.heldFailure = reason;
  lane.parts.browser->WatchPage(kSettleTime, kWatchBound);
}

void SubmissionJob::BeforeNavigate2(const std::string& url, bool& cancel, std::size_t index) {
  SiteLane& lane = *lanes_[index];
  BrowserBeforeNavigate2(*lane.parts.panel, *lane.trace, url, cancel);
  if (cancel || !lane.requestGuard) return;
  const std::optional<std::string> foreign = ForeignRequestHost(url, *lane.requestGuard);
  if (!foreign) return;
  cancel = true;
  if (!lane.loginInFlight || !lane.siteOpen) {
    RequestRefused(*foreign, index);
    return;
  }
  // Whatever the page did to the form, its action or the redirects that
  // follow, the login goes nowhere but to the site's own origins.
  const std::string reason = "Login form on another host (" + lane.trace->Outside(*foreign) + ")";
  lane.trace->TraceLine(reason);
  SiteFailed(lane, reason);
}

void SubmissionJob::RequestRefused(const std::string& host, std::size_t index) {
  SiteLane& lane = *lanes_[index];
  if (!lane.requestGuard || !lane.refusedHosts.insert(host).second) return;
  lane.trace->TraceLine("Request to another host refused during login: " +
                        lane.trace->Outside(host));
}

void SubmissionJob::RequestGuardUnconfirmed(std::size_t index) {
  SiteLane& lane = *lanes_[index];
  if (!lane.siteOpen || !lane.requestGuard) return;
  const std::string reason = "Request guard not in place";
  lane.trace->TraceLine(reason);
  SiteFailed(lane, reason);
}

void SubmissionJob::NavigateComplete2(const std::string&, std::size_t index) {
  lanes_[index]->loginInFlight = false;
}

void SubmissionJob::NewWindow2(const std::string& url, bool& cancel, std::size_t index) {
  BrowserNewWindow2(*lanes_[index]->trace, url, cancel);
}

void SubmissionJob::PrintRefused(const std::string& url, std::size_t index) {
  BrowserPrintRefused(*lanes_[index]->trace, url);
}

void SubmissionJob::PageDropped(const std::string& url, std::size_t index) {
  BrowserPageDropped(*lanes_[index]->trace, url);
}

void SubmissionJob::SubmitDisabled(const std::string&, std::size_t index) {
  SiteLane& lane = *lanes_[index];
  if (!lane.siteOpen) return;
  lane.trace->TraceLine("Submit button disabled");
  SiteFailed(lane, "Submit button disabled");
}

void SubmissionJob::DownloadRefused(const std::string& url, bool requested, std::size_t index) {
  SiteLane& lane = *lanes_[index];
  BrowserDownloadRefused(*lane.trace, url);
  // The page delivered again after it would be the site before's, or none.
  if (requested && lane.siteOpen && lane.navigatedThisSite && lane.evidence.pages == 0)
    SiteFailed(lane, "Download refused: " + lane.trace->Outside(url));
}

void SubmissionJob::NavigateError(const std::string& url, std::int32_t statusCode,
                                  const std::string& message, bool& cancel, std::size_t index) {
  SiteLane& lane = *lanes_[index];
  BrowserNavigateError(*lane.trace, url, statusCode, message, cancel);
  if (lane.siteOpen && lane.navigatedThisSite && !message.empty())
    lane.evidence.networkError = lane.trace->Outside(message);
}

void SubmissionJob::ProgressChange(int progress, int progressMax, std::size_t) {
  BrowserProgressChange(progress, progressMax);
}

bool SubmissionJob::NeedsPageText(std::size_t index) const {
  const SiteLane& lane = *lanes_[index];
  return lane.siteOpen && PageTextNeeded(*lane.state, lane.siteSteps);
}

}  // namespace veltrane
