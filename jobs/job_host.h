// JobHost: the home of the running job. It owns the SubmissionJob, its page
// timer (TimerTimeout), the failure screenshots and the busy state, takes the
// browser control's events and hands them to the job, each guarded: an error
// escaping a handler is shown in `errors` and the service goes on. The
// windows only show it (TForm2 the page and Panel2, TForm1 the status); the
// tools run a site through it without any window of the service.
// With parallelSites above 1 it makes a view of its own for every further
// lane (LaneView, in the first view's web context) with its own page timer
// and failure screenshots, and hands each lane's events to the job with the
// lane's index; the first lane is the window's browser.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser/failure_shots.h"
#include "browser/lane_view.h"
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
  // How many sites of a job run at once, and how many of them on one host.
  int parallelSites = 1;
  int parallelPerHost = 2;
  // The further lanes' browsers are made with these.
  WebKitBrowserOptions laneBrowser = {};
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
  bool HelpSubmission() override;

  // Runs after every start and event the job took (a site may have started
  // or ended), so that a view can tell what the job does now; empty: nothing.
  void OnChanged(std::function<void()> changed) { changed_ = std::move(changed); }

  void TimerTimeoutTimer();
  bool TimerTimeoutEnabled() const { return timerTimeout_->Enabled(); }
  // The browsers of the lanes after the first.
  std::size_t MoreLanes() const { return lanes_.size(); }
  WebKitBrowser& LaneBrowser(std::size_t lane) { return lanes_[lane]->view->Browser(); }
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
  void RequestRefused(const std::string& host) override;
  void RequestGuardUnconfirmed() override;
  // Only a step that checks text on the page has it read (SubmissionJob::NeedsPageText).
  bool WantsPageText() override;

 private:
  // A failed site's page, kept by the failure shots; `then` runs guarded.
  void Capture(const std::string& site, std::function<void()> then) override;
  class LaneEvents;
  struct Lane {
    std::unique_ptr<LaneView> view;
    std::unique_ptr<UiTimer> timer;
    std::unique_ptr<FailureShots> shots;
    std::unique_ptr<LaneEvents> events;
  };
  template <typename Handler>
  void Guarded(Handler&& handler);
  void Changed();

  WebKitBrowser& browser_;
  MessageBox& errors_;
  bool busy_ = false;
  std::unique_ptr<UiTimer> timerTimeout_;
  PseudoRandom random_;
  std::unique_ptr<FailureShots> shots_;
  std::vector<std::unique_ptr<Lane>> lanes_;
  std::unique_ptr<SubmissionJob> job_;
  std::function<void()> changed_;
};

}  // namespace veltrane
