#include "jobs/job_host.h"

#include <utility>

#include "platform/handler_guard.h"

namespace veltrane {

// Hands one further lane's browser events and failure captures to the job,
// guarded as the first lane's are.
class JobHost::LaneEvents : public BrowserEvents, public PageCapture {
 public:
  LaneEvents(JobHost& host, std::size_t index, FailureShots* shots)
      : host_(host), index_(index), shots_(shots) {}

  void DocumentComplete(Page& page) override {
    host_.Guarded([&] { host_.job_->DocumentComplete(page, index_); });
  }
  void BeforeNavigate2(const std::string& url, bool& cancel) override {
    host_.Guarded([&] { host_.job_->BeforeNavigate2(url, cancel, index_); });
  }
  void NewWindow2(const std::string& url, bool& cancel) override {
    host_.Guarded([&] { host_.job_->NewWindow2(url, cancel, index_); });
  }
  void PrintRefused(const std::string& url) override {
    host_.Guarded([&] { host_.job_->PrintRefused(url, index_); });
  }
  void DownloadRefused(const std::string& url, bool requested) override {
    host_.Guarded([&] { host_.job_->DownloadRefused(url, requested, index_); });
  }
  void PageSettled(Page& page, const PageChange& change) override {
    host_.Guarded([&] { host_.job_->PageSettled(page, change, index_); });
  }
  void PageDropped(const std::string& url) override {
    host_.Guarded([&] { host_.job_->PageDropped(url, index_); });
  }
  void SubmitDisabled(const std::string& url) override {
    host_.Guarded([&] { host_.job_->SubmitDisabled(url, index_); });
  }
  void NavigateError(const std::string& url, std::int32_t statusCode, const std::string& message,
                     bool& cancel) override {
    host_.Guarded([&] { host_.job_->NavigateError(url, statusCode, message, cancel, index_); });
  }
  void ProgressChange(int progress, int progressMax) override {
    host_.Guarded([&] { host_.job_->ProgressChange(progress, progressMax, index_); });
  }
  void NavigateComplete2(const std::string& url) override {
    host_.Guarded([&] { host_.job_->NavigateComplete2(url, index_); });
  }
  void RequestRefused(const std::string& requestHost) override {
    host_.Guarded([&] { host_.job_->RequestRefused(requestHost, index_); });
  }
  void RequestGuardUnconfirmed() override {
    host_.Guarded([&] { host_.job_->RequestGuardUnconfirmed(index_); });
  }
  bool WantsPageText() override { return host_.job_->NeedsPageText(index_); }
  void Capture(const std::string& site, std::function<void()> then) override {
    shots_->Capture(site, [this, then = std::move(then)] { host_.Guarded(then); });
  }

 private:
  JobHost& host_;
  std::size_t index_;  // the lane's index in the job, from 1
  FailureShots* shots_;
};

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
  parts.perHost = options.parallelPerHost;
  for (int n = 2; n <= options.parallelSites; ++n) {
    auto lane = std::make_unique<Lane>();
    const std::size_t index = lanes_.size() + 1;
    lane->view = std::make_unique<LaneView>(browser_.View(), options.laneBrowser);
    lane->timer = std::make_unique<UiTimer>(options.timeoutIntervalMs, false, [this, index] {
      Guarded([this, index] { job_->TimerTimeoutTimer(index); });
    });
    if (!options.shotsDirectory.empty())
      lane->shots = std::make_unique<FailureShots>(lane->view->Browser().View(),
                                                   options.shotsDirectory, trace, clock);
    lane->events = std::make_unique<LaneEvents>(*this, index, lane->shots.get());
    UiTimer& timer = *lane->timer;
    parts.moreLanes.push_back(LaneParts{&lane->view->Browser(),
                                        [&timer](bool enabled) { timer.SetEnabled(enabled); },
                                        lane->shots ? lane->events.get() : nullptr, nullptr});
    lane->view->Browser().SetEvents(lane->events.get());
    lanes_.push_back(std::move(lane));
  }
  job_ = std::make_unique<SubmissionJob>(std::move(parts));
  browser_.SetEvents(this);
}

JobHost::~JobHost() {
  browser_.SetEvents(nullptr);
  for (auto& lane : lanes_) {
    lane->view->Browser().SetEvents(nullptr);
    lane->timer.reset();
  }
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

bool JobHost::HelpSubmission() {
  const bool started = job_->HelpSubmission();
  if (started) Changed();
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

void JobHost::RequestRefused(const std::string& host) {
  Guarded([&] { job_->RequestRefused(host); });
}

void JobHost::RequestGuardUnconfirmed() {
  Guarded([&] { job_->RequestGuardUnconfirmed(); });
}

bool JobHost::WantsPageText() { return job_->NeedsPageText(); }

}  // namespace veltrane
