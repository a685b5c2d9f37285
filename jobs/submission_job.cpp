#include "jobs/submission_job.h"

#include <string>
#include <utility>

#include "engine/navigation_guards.h"
#include "engine/site_script.h"
#include "engine/step_engine.h"
#include "jobs/report.h"

namespace veltrane {

SubmissionJob::SubmissionJob(SubmissionJobParts parts)
    : parts_(std::move(parts)),
      loader_(parts_.paths, parts_.messageBox, parts_.trace, parts_.clock) {}

bool SubmissionJob::StartSubmission(const std::string& scheduleId) {
  parts_.trace.TraceLine("Submission started for ID : " + scheduleId);
  parts_.trace.TraceLine("Current PR : " + state_.PressReleaseName);
  parts_.busy = true;
  state_.PressReleaseName.clear();
  state_.PendingSites.clear();
  state_.CompletedSites.clear();
  state_.FailedSites.clear();
  state_.FailedReasons.clear();
  state_.SiteCategories.clear();
  if (!loader_.LoadSchedule(state_, scheduleId) ||
      !loader_.LoadPressRelease(state_, state_.PressReleaseName)) {
    parts_.busy = false;
    return false;
  }
  parts_.busy = true;
  state_.JobRunning = true;
  NextSite();
  return true;
}

void SubmissionJob::NextSite() {
  // A page or timer event left over from the previous site must not be taken
  // as a redirect of the next one.
  state_.AwaitRedirect = false;
  if (state_.PendingSites.empty()) {
    parts_.trace.TraceLine("Submission completed");
    SaveReport(state_, parts_.paths.main, parts_.messageBox, parts_.trace, parts_.clock);
    state_.JobRunning = false;
    parts_.busy = false;
    return;
  }
  state_.CurrentSite = state_.PendingSites.front();
  state_.PendingSites.erase(state_.PendingSites.begin());
  parts_.trace.TraceLine(std::string(69, '-'));
  parts_.trace.TraceLine("Current site : " + state_.CurrentSite);
  state_.SiteScript.clear();
  navigatedThisSite_ = false;
  const SiteLoad site = loader_.LoadSite(state_, state_.CurrentSite);
  parts_.trace.TraceLine("submission_data : " + state_.SiteScript);
  parts_.trace.TraceLine("extra_data : " + site.extraData);
  if (!site.SubscriptionFound()) {
    // Without its own row the site has no address or script to run: it fails
    // at once rather than running on another site's address and login.
    SiteFailed("Cant find info for subscription '" + state_.CurrentSite + "'");
    return;
  }
  state_.StepNumber = 1;
  LoadStep(state_, 1);
  parts_.trace.TraceLine("Navigate to : " + state_.SiteUrl);
  navigatedThisSite_ = true;
  parts_.browser.Navigate(state_.SiteUrl);
  ArmDeadline();
}

void SubmissionJob::SiteSucceeded() {
  state_.CompletedSites.push_back(state_.CurrentSite);
  NextSite();
}

void SubmissionJob::SiteFailed(const std::string& reason) {
  state_.FailedSites.push_back(state_.CurrentSite);
  state_.FailedReasons.push_back(reason);
  // The page of a site that never navigated is not its own: nothing to capture.
  if (parts_.captureFailedPage && navigatedThisSite_) {
    // No page or timer is taken meanwhile: the deadline is disarmed and no
    // redirect is awaited when a site fails.
    parts_.captureFailedPage(state_.CurrentSite, [this] { NextSite(); });
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
  if (parts_.clock.Now() > state_.PageDeadline) {
    DisarmDeadline();
    SiteFailed("Timeout");
  }
}

void SubmissionJob::DocumentComplete(Page& page) {
  BrowserDocumentComplete(state_, page, *this, parts_.trace, parts_.random);
}

void SubmissionJob::BeforeNavigate2(const std::string& url, bool& cancel) {
  BrowserBeforeNavigate2(parts_.panel2, url, cancel);
}

void SubmissionJob::NewWindow2(const std::string& url, bool& cancel) {
  BrowserNewWindow2(parts_.trace, url, cancel);
}

void SubmissionJob::PrintRefused(const std::string& url) { BrowserPrintRefused(parts_.trace, url); }

void SubmissionJob::NavigateError(const std::string& url, std::int32_t statusCode, bool& cancel) {
  BrowserNavigateError(parts_.trace, url, statusCode, cancel);
}

void SubmissionJob::ProgressChange(int progress, int progressMax) {
  BrowserProgressChange(progress, progressMax);
}

}  // namespace veltrane
