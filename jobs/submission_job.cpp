#include "jobs/submission_job.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "engine/form_location.h"
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
  state_.outcome.Sites = job.ended;
  if (job.submitting) EndInterruptedSubmission(job, ended);
  pendingPositions_.clear();
  for (std::size_t i = 0; i < job.sites.size(); ++i) {
    if (ended[i]) continue;
    state_.PendingSites.push_back(job.sites[i]);
    pendingPositions_.push_back(static_cast<int>(i));
  }
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

void SubmissionJob::BeginSites() {
  parts_.busy = true;
  state_.JobRunning = true;
  NextSite();
}

void SubmissionJob::NextSite() {
  // A page or timer event left over from the previous site must not be taken
  // as a redirect of the next one.
  state_.AwaitRedirect = false;
  siteOpen_ = false;
  if (!StillHeld()) return;
  if (state_.PendingSites.empty() && trial_) {
    trace_.TraceLine("Trial completed");
    state_.JobRunning = false;
    parts_.busy = false;
    const SiteTrial trial = std::move(*trial_);
    trial_.reset();
    if (trial.ended && !state_.outcome.Sites.empty()) trial.ended(state_.outcome.Sites.back());
    return;
  }
  if (state_.PendingSites.empty()) {
    trace_.TraceLine("Submission completed");
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
    parts_.busy = false;
    return;
  }
  state_.site.CurrentSite = state_.PendingSites.front();
  state_.PendingSites.erase(state_.PendingSites.begin());
  currentPosition_ = pendingPositions_.empty() ? 0 : pendingPositions_.front();
  if (!pendingPositions_.empty()) pendingPositions_.erase(pendingPositions_.begin());
  siteOpen_ = true;
  ++siteSerial_;
  siteStarted_ = parts_.clock.Now();
  evidence_ = SiteEvidence{};
  trace_.TraceLine(std::string(69, '-'));
  trace_.TraceLine("Current site : " + state_.site.CurrentSite);
  trace_.SetSite(state_.site.CurrentSite);
  state_.site.SiteScript.clear();
  navigatedThisSite_ = false;
  storeRetryDelay_ = kFirstStoreRetry;
  LoadAndStartSite();
}

void SubmissionJob::LoadAndStartSite() {
  const SiteLoad site = loader_.LoadSite(state_, state_.site.CurrentSite);
  // A store error says nothing about the rows: the site waits for the store.
  if (site.StoreFailed() && WaitForStore()) return;
  siteSteps_ = SiteSteps(state_.site.SiteScript);
  trace_.SetSecret(state_.site.login.Password);
  trace_.TraceLine("submission_data : " + trace_.Outside(state_.site.SiteScript));
  trace_.TraceLine("extra_data : " + trace_.Outside(site.extraData));
  if (site.StoreFailed()) {
    SiteFailed(site.storeError);
    return;
  }
  if (!site.SubscriptionFound()) {
    // Without its own row the site has no address or script to run: it fails
    // at once rather than running on another site's address and login.
    SiteFailed("Cant find info for subscription '" + state_.site.CurrentSite + "'");
    return;
  }
  if (state_.site.SiteScript.find('\0') != std::string::npos) {
    // Every reader before would have stopped there, success check and all.
    SiteFailed("Site script contains a NUL byte");
    return;
  }
  if (!siteSteps_.Step(1).present) {
    // Nothing would be submitted, and the end of the script would count as success.
    SiteFailed("Site script has no steps");
    return;
  }
  state_.site.StepNumber = 1;
  LoadStep(state_, siteSteps_, 1);
  trace_.TraceLine("Navigate to : " + trace_.Outside(state_.site.SiteUrl));
  navigatedThisSite_ = true;
  parts_.browser.Navigate(state_.site.SiteUrl);
  ArmDeadline();
}

bool SubmissionJob::WaitForStore() {
  constexpr double kMsPerDay = 86400000.0;
  const double left = siteStarted_ + parts_.pageDeadline - parts_.clock.Now();
  if (left <= 0.0) return false;
  const auto delay = std::min(
      storeRetryDelay_, std::chrono::milliseconds(static_cast<long long>(left * kMsPerDay) + 1));
  if (storeRetryDelay_ == kFirstStoreRetry)
    trace_.TraceLine("Waiting for the database to load site " + state_.site.CurrentSite);
  storeRetryDelay_ = std::min(storeRetryDelay_ * 2, kLastStoreRetry);
  // Not open while it waits: a late page or tick of the site before finds nothing to end.
  siteOpen_ = false;
  storeRetry_.SetInterval(static_cast<unsigned>(delay.count()));
  storeRetry_.SetEnabled(true);
  return true;
}

void SubmissionJob::RetrySiteLoad() {
  storeRetry_.SetEnabled(false);
  siteOpen_ = true;
  // A timer has nobody above it to catch an error: the site ends with it.
  try {
    LoadAndStartSite();
  } catch (const std::exception& error) {
    trace_.TraceLine(std::string("Site ") + state_.site.CurrentSite +
                     " could not be started : " + error.what());
    if (siteOpen_) SiteFailed(error.what());
  }
}

void SubmissionJob::WriteKeptSitesOrRetry() {
  keptSitesRetry_.SetEnabled(false);
  if (journal_.WriteKeptSites()) return;
  keptSitesRetry_.SetInterval(static_cast<unsigned>(keptSitesDelay_.count()));
  keptSitesRetry_.SetEnabled(true);
  keptSitesDelay_ = std::min(keptSitesDelay_ * 2, kLastKeptSitesRetry);
}

bool SubmissionJob::EndSite(bool completed, const std::string& reason) {
  if (!siteOpen_) {
    trace_.TraceLine("Site " + state_.site.CurrentSite + " has ended already");
    return false;
  }
  siteOpen_ = false;
  state_.AwaitRedirect = false;
  loginInFlight_.reset();
  watching_ = Watching::Idle;
  trace_.SetSite("");
  DisarmDeadline();
  SiteRecord record;
  record.position = currentPosition_;
  record.site = state_.site.CurrentSite;
  record.completed = completed;
  record.reason = reason;
  record.started = siteStarted_;
  record.ended = parts_.clock.Now();
  record.lastUrl = navigatedThisSite_ ? trace_.Outside(parts_.browser.LocationURL()) : "";
  // The step the site ended on is the one whose success text was checked or awaited.
  evidence_.successText =
      trace_.Outside(siteSteps_.Step(state_.site.StepNumber).directives.successString);
  record.evidence = evidence_;
  journal_.RecordSite(jobId_, scheduleId_, record);
  state_.outcome.Sites.push_back(std::move(record));
  return true;
}

void SubmissionJob::SiteSucceeded() {
  if (EndSite(true, "")) NextSite();
}

void SubmissionJob::SiteFailed(const std::string& reason) {
  if (!EndSite(false, reason)) return;
  // The page of a site that never navigated is not its own: nothing to capture.
  if (parts_.failedPageCapture && navigatedThisSite_) {
    // The name the capture gives its file, from the same clock read at once;
    // the site's record gains it.
    SiteRecord& record = state_.outcome.Sites.back();
    record.evidence.screenshot =
        DateStampText(parts_.clock.Now()) + "-" + FileNameSafe(state_.site.CurrentSite) + ".png";
    journal_.RecordSite(jobId_, scheduleId_, record);
    // Nothing can end the site again meanwhile, and only this capture's own
    // end starts the next site.
    parts_.failedPageCapture->Capture(state_.site.CurrentSite, [this, serial = siteSerial_] {
      if (serial == siteSerial_ && !siteOpen_) NextSite();
    });
    return;
  }
  NextSite();
}

void SubmissionJob::ArmDeadline() {
  state_.PageDeadline = parts_.clock.Now() + parts_.pageDeadline;
  state_.PageWaitOver = false;
  parts_.setTimerEnabled(true);
}

void SubmissionJob::DisarmDeadline() {
  state_.PageDeadline = parts_.clock.Now();
  state_.PageWaitOver = true;
  parts_.setTimerEnabled(false);
}

void SubmissionJob::TimerTimeoutTimer() {
  if (!siteOpen_) return;
  if (parts_.clock.Now() > state_.PageDeadline) {
    DisarmDeadline();
    SiteFailed("Timeout");
  }
}

void SubmissionJob::DocumentComplete(Page& page) {
  parts_.panel2.Hide();
  // A late page of a site that has ended, or a page between jobs, changes nothing.
  if (!siteOpen_) return;
  ++evidence_.pages;
  evidence_.lastStatus = page.statusCode;
  // A page a server answered follows the failure; the browser's error page does not.
  if (page.statusCode != 0) evidence_.networkError.clear();
  // A form of this page sends the login in the page's encoding.
  trace_.NoteCharacterSet(page.characterSet);
  watching_ = Watching::Idle;
  JudgePage(page, false);
}

void SubmissionJob::PageSettled(Page& page, const PageChange& change) {
  if (!siteOpen_ || watching_ == Watching::Idle) return;
  const Watching watched = std::exchange(watching_, Watching::Idle);
  // A list's step runs again once whatever came, with the options the page
  // has now; a list still without its option takes index 1.
  if (!change.Any() && watched != Watching::Lists) {
    SiteFailed(watched == Watching::Submission ? "Nothing happened after submit" : heldFailure_);
    return;
  }
  if (change.Any()) trace_.TraceLine("Page updated in place : " + trace_.Outside(page.location));
  JudgePage(page, watched != Watching::Submission);
}

void SubmissionJob::JudgePage(Page& page, bool settled) {
  // The step may send a form: not for a job another instance runs now.
  if (!StillHeld()) return;
  const StepContext context{settled, trial_ && trial_->holdSubmission};
  const StepDecision decision =
      BrowserDocumentComplete(state_, siteSteps_, page, trace_, parts_.random, context);
  if (decision.kind == StepDecision::Kind::NotAwaited) return;
  if (!decision.missingControls.empty()) {
    if (!evidence_.notes.empty()) evidence_.notes += "; ";
    evidence_.notes +=
        "form changed: missing " + trace_.Outside(CommaList(decision.missingControls));
  }
  // From now until the next document commits, no request of the view may
  // leave the site's hosts. The form step has advanced: its own is the one before.
  if (decision.loginSent)
    loginInFlight_.emplace(state_.site.SiteUrl,
                           siteSteps_.Step(state_.site.StepNumber - 1).directives.credentialHosts);
  if (decision.held) {
    if (trial_->held) trial_->held(page, decision.form, decision.button);
    if (EndSite(false, decision.text)) NextSite();
    return;
  }
  // Committed before the form goes: its click is replayed once this returns.
  if (decision.releaseSent)
    journal_.MarkSubmitting(jobId_, currentPosition_, state_.site.CurrentSite,
                            trace_.Outside(page.location), parts_.clock.Now());
  DisarmDeadline();
  switch (decision.kind) {
    case StepDecision::Kind::NotAwaited: return;
    case StepDecision::Kind::WaitForPage:
      ArmDeadline();
      // A page that sends the form by script may stay where it is.
      if (decision.form >= 0) {
        watching_ = Watching::Submission;
        parts_.browser.WatchPage(kSubmitSettleTime, kWatchBound);
      }
      return;
    case StepDecision::Kind::WaitForRedirect:
      state_.AwaitRedirect = true;
      ArmDeadline();
      return;
    case StepDecision::Kind::Navigate:
      parts_.browser.Navigate(decision.text);
      ArmDeadline();
      return;
    case StepDecision::Kind::WatchFirst:
      ArmDeadline();
      watching_ = Watching::Lists;
      parts_.browser.WatchPage(std::chrono::milliseconds(0), kWatchBound);
      return;
    case StepDecision::Kind::Succeeded: SiteSucceeded(); return;
    case StepDecision::Kind::Failed:
      if (decision.pageMayMoveOn && !settled) {
        HoldFailureWhilePageMayMoveOn(decision.text);
        return;
      }
      SiteFailed(decision.text);
      return;
  }
}

bool SubmissionJob::StillHeld() {
  if (trial_ || journal_.Holds(jobId_)) return true;
  // Nothing more of it is written or sent from here: its site is left open
  // for the instance that took the job over.
  trace_.SetSite("");
  trace_.TraceLine("Job " + std::to_string(jobId_) + " of schedule " + std::to_string(scheduleId_) +
                   " was taken over by another instance; this instance stops it");
  siteOpen_ = false;
  ++siteSerial_;  // a screenshot still under way starts no next site
  state_.AwaitRedirect = false;
  loginInFlight_.reset();
  watching_ = Watching::Idle;
  DisarmDeadline();
  journal_.Release(jobId_, scheduleId_);
  jobId_ = 0;
  state_.PendingSites.clear();
  pendingPositions_.clear();
  state_.JobRunning = false;
  parts_.busy = false;
  return false;
}

void SubmissionJob::HoldFailureWhilePageMayMoveOn(const std::string& reason) {
  // The step stays current: a page that arrives meanwhile is judged by it,
  // and one on its way is waited for within the page deadline.
  ArmDeadline();
  watching_ = Watching::Failure;
  heldFailure_ = reason;
  parts_.browser.WatchPage(kSettleTime, kWatchBound);
}

void SubmissionJob::BeforeNavigate2(const std::string& url, bool& cancel) {
  BrowserBeforeNavigate2(parts_.panel2, trace_, url, cancel);
  if (cancel || !loginInFlight_ || !siteOpen_) return;
  // Whatever the page did to the form, its action or the redirects that
  // follow, the login goes nowhere but to the site's own hosts.
  if (const std::optional<std::string> foreign = ForeignRequestHost(url, *loginInFlight_)) {
    cancel = true;
    const std::string reason = "Login form on another host (" + trace_.Outside(*foreign) + ")";
    trace_.TraceLine(reason);
    SiteFailed(reason);
  }
}

void SubmissionJob::NavigateComplete2(const std::string&) { loginInFlight_.reset(); }

void SubmissionJob::NewWindow2(const std::string& url, bool& cancel) {
  BrowserNewWindow2(trace_, url, cancel);
}

void SubmissionJob::PrintRefused(const std::string& url) { BrowserPrintRefused(trace_, url); }

void SubmissionJob::PageDropped(const std::string& url) { BrowserPageDropped(trace_, url); }

void SubmissionJob::SubmitDisabled(const std::string&) {
  if (!siteOpen_) return;
  trace_.TraceLine("Submit button disabled");
  SiteFailed("Submit button disabled");
}

void SubmissionJob::DownloadRefused(const std::string& url, bool requested) {
  BrowserDownloadRefused(trace_, url);
  // The page delivered again after it would be the site before's, or none.
  if (requested && siteOpen_ && navigatedThisSite_ && evidence_.pages == 0)
    SiteFailed("Download refused: " + trace_.Outside(url));
}

void SubmissionJob::NavigateError(const std::string& url, std::int32_t statusCode,
                                  const std::string& message, bool& cancel) {
  BrowserNavigateError(trace_, url, statusCode, message, cancel);
  if (siteOpen_ && navigatedThisSite_ && !message.empty())
    evidence_.networkError = trace_.Outside(message);
}

void SubmissionJob::ProgressChange(int progress, int progressMax) {
  BrowserProgressChange(progress, progressMax);
}

bool SubmissionJob::NeedsPageText() const {
  return siteOpen_ && PageTextNeeded(state_, siteSteps_);
}

}  // namespace veltrane
