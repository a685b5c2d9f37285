#include "jobs/job_host.h"

#include <utility>

#include "platform/handler_guard.h"

namespace veltrane {

JobHost::JobHost(WebKitBrowser& browser, LoadingIndicator& panel2, MessageBox& errors,
                 TraceSink& trace, const Clock& clock, JobHostOptions options)
    : browser_(browser), errors_(errors), random_(PseudoRandom::SeededFromTime()) {
  timerTimeout_ = std::make_unique<UiTimer>(options.timeoutIntervalMs, false,
                                            [this] { Guarded([this] { TimerTimeoutTimer(); }); });
  SubmissionJobParts parts{options.paths,
                           browser_,
                           panel2,
                           trace,
                           clock,
                           random_,
                           busy_,
                           options.pageDeadline,
                           [this](bool enabled) { timerTimeout_->SetEnabled(enabled); },
                           nullptr};
  if (!options.shotsDirectory.empty()) {
    shots_ = std::make_unique<FailureShots>(browser_.View(), options.shotsDirectory, trace, clock);
    parts.failedPageCapture = this;
  }
  job_ = std::make_unique<SubmissionJob>(std::move(parts));
  browser_.SetEvents(this);
}

JobHost::~JobHost() {
  browser_.SetEvents(nullptr);
  timerTimeout_.reset();
}

template <typename Handler>
void JobHost::Guarded(Handler&& handler) {
  RunGuarded(errors_, std::forward<Handler>(handler));
  Changed();
}

void JobHost::Changed() {
  if (changed_) changed_();
}

bool JobHost::StartSubmission(ScheduleId scheduleId) {
  const bool started = job_->StartSubmission(scheduleId);
  Changed();
  return started;
}

bool JobHost::ResumeSubmission() {
  const bool resumed = job_->ResumeSubmission();
  Changed();
  return resumed;
}

bool JobHost::TakeOverSubmission(std::int64_t jobId) {
  const bool started = job_->TakeOverSubmission(jobId);
  Changed();
  return started;
}

void JobHost::TimerTimeoutTimer() { job_->TimerTimeoutTimer(); }

void JobHost::Capture(const std::string& site, std::function<void()> then) {
  shots_->Capture(site, [this, then = std::move(then)] { Guarded(then); });
}

void JobHost::DocumentComplete(Page& page) {
  Guarded([&] { job_->DocumentComplete(page); });
}

void JobHost::BeforeNavigate2(const std::string& url, bool& cancel) {
  Guarded([&] { job_->BeforeNavigate2(url, cancel); });
}

void JobHost::NewWindow2(const std::string& url, bool& cancel) {
  Guarded([&] { job_->NewWindow2(url, cancel); });
}

void JobHost::PrintRefused(const std::string& url) {
  Guarded([&] { job_->PrintRefused(url); });
}

void JobHost::DownloadRefused(const std::string& url, bool requested) {
  Guarded([&] { job_->DownloadRefused(url, requested); });
}

void JobHost::PageSettled(Page& page, const PageChange& change) {
  Guarded([&] { job_->PageSettled(page, change); });
}

void JobHost::PageDropped(const std::string& url) {
  Guarded([&] { job_->PageDropped(url); });
}

void JobHost::SubmitDisabled(const std::string& url) {
  Guarded([&] { job_->SubmitDisabled(url); });
}

void JobHost::NavigateError(const std::string& url, std::int32_t statusCode,
                            const std::string& message, bool& cancel) {
  Guarded([&] { job_->NavigateError(url, statusCode, message, cancel); });
}

void JobHost::ProgressChange(int progress, int progressMax) {
  Guarded([&] { job_->ProgressChange(progress, progressMax); });
}

void JobHost::NavigateComplete2(const std::string& url) {
  Guarded([&] { job_->NavigateComplete2(url); });
}

bool JobHost::WantsPageText() { return job_->NeedsPageText(); }

}  // namespace veltrane
