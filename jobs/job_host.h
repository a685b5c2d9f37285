// JobHost: the home of the running job. It owns the SubmissionJob, its page
// timer (TimerTimeout), the failure screenshots and the busy state, takes the
// browser control's events and hands them to the job, each guarded: an error
// escaping a handler is shown in `errors` and the service goes on. The
// windows only show it (TForm2 the page and Panel2, TForm1 the status); the
// tools run a site through it without any window of the service.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "browser/failure_shots.h"
#include "browser/loading_indicator.h"
#include "browser/webkit_browser.h"
#include "engine/pseudo_random.h"
#include "jobs/job_dispatch.h"
#include "jobs/submission_job.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/ui_timer.h"

namespace veltrane {

struct JobHostOptions {
  DatabasePaths paths = ProgramDatabasePaths();
  unsigned timeoutIntervalMs = 300000;
  double pageDeadline = SubmissionJob::kPageDeadline;
  // Where failed sites' pages are saved as PNG; empty: no screenshots.
  std::string shotsDirectory = ExecutableDirectory() + "shots";
};

class JobHost : public JobStarter, public BrowserEvents, private PageCapture {
 public:
  // Takes the browser's events until it is gone; `panel2` is the loading panel shown.
  JobHost(WebKitBrowser& browser, LoadingIndicator& panel2, MessageBox& errors, TraceSink& trace,
          const Clock& clock, JobHostOptions options = {});
  ~JobHost() override;
  JobHost(const JobHost&) = delete;
  JobHost& operator=(const JobHost&) = delete;

  bool Busy() const override { return busy_; }
  bool StartSubmission(ScheduleId scheduleId) override;
  bool ResumeSubmission() override;
  bool TakeOverSubmission(std::int64_t jobId) override;

  // Runs after every start and event the job took (a site may have started
  // or ended), so that a view can tell what the job does now; empty: nothing.
  void OnChanged(std::function<void()> changed) { changed_ = std::move(changed); }

  void TimerTimeoutTimer();
  bool TimerTimeoutEnabled() const { return timerTimeout_->Enabled(); }
  SubmissionJob& Job() { return *job_; }

  // Browser events, guarded and handed to the job.
  void DocumentComplete(Page& page) override;
  void BeforeNavigate2(const std::string& url, bool& cancel) override;
  void NewWindow2(const std::string& url, bool& cancel) override;
  void PrintRefused(const std::string& url) override;
  void DownloadRefused(const std::string& url, bool requested) override;
  void PageDropped(const std::string& url) override;
  void PageSettled(Page& page, const PageChange& change) override;
  void SubmitDisabled(const std::string& url) override;
  void NavigateError(const std::string& url, std::int32_t statusCode, const std::string& message,
                     bool& cancel) override;
  void ProgressChange(int progress, int progressMax) override;
  void NavigateComplete2(const std::string& url) override;
  // Only a step that checks text on the page has it read (SubmissionJob::NeedsPageText).
  bool WantsPageText() override;

 private:
  // A failed site's page, kept by the failure shots; `then` runs guarded.
  void Capture(const std::string& site, std::function<void()> then) override;
  template <typename Handler>
  void Guarded(Handler&& handler);
  void Changed();

  WebKitBrowser& browser_;
  MessageBox& errors_;
  bool busy_ = false;
  std::unique_ptr<UiTimer> timerTimeout_;
  PseudoRandom random_;
  std::unique_ptr<FailureShots> shots_;
  std::unique_ptr<SubmissionJob> job_;
  std::function<void()> changed_;
};

}  // namespace veltrane
