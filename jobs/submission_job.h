// SubmissionJob: the running job of the browser window. It starts a job for a
// schedule id, walks the job's sites one after the other through the browser
// control, hands every completed page to the step engine, bounds every wait
// for a page with a deadline, and writes the report when the last site ends.
// It owns the JobState; it holds references to everything else. The window
// routes its browser events and its page timer here. User-interface thread only.
#pragma once

#include <functional>
#include <string>

#include "browser/browser_control.h"
#include "browser/loading_indicator.h"
#include "engine/pseudo_random.h"
#include "engine/step_host.h"
#include "jobs/job_data.h"
#include "jobs/job_state.h"
#include "platform/day_clock.h"
#include "platform/message_box.h"
#include "platform/trace.h"

namespace veltrane {

struct SubmissionJobParts {
  DatabasePaths paths;
  BrowserControl& browser;
  LoadingIndicator& panel2;
  MessageBox& messageBox;
  TraceSink& trace;
  const Clock& clock;
  PseudoRandom& random;
  bool& busy;                                 // the main window's Busy flag
  double pageDeadline;                        // days from arming to the deadline
  std::function<void(bool)> setTimerEnabled;  // TimerTimeout on or off
  // When set, a failed site's page is captured before the next site starts;
  // the capture calls `then` once it is done.
  std::function<void(const std::string& site, std::function<void()> then)> captureFailedPage;
};

class SubmissionJob : public StepHost, public BrowserEvents {
 public:
  // The deadline lies 1/480 day (180 seconds) after arming.
  static constexpr double kPageDeadline = 1.0 / 480.0;

  explicit SubmissionJob(SubmissionJobParts parts);

  bool StartSubmission(const std::string& scheduleId);
  void NextSite();
  void SiteSucceeded() override;
  void SiteFailed(const std::string& reason) override;

  void ArmDeadline() override;
  void DisarmDeadline() override;
  void TimerTimeoutTimer();

  void HideLoadingPanel() override { parts_.panel2.Hide(); }
  void Navigate(const std::string& url) override { parts_.browser.Navigate(url); }

  // Browser events.
  void DocumentComplete(Page& page) override;
  void BeforeNavigate2(const std::string& url, bool& cancel) override;
  void NewWindow2(const std::string& url, bool& cancel) override;
  void PrintRefused(const std::string& url) override;
  void NavigateError(const std::string& url, std::int32_t statusCode, bool& cancel) override;
  void ProgressChange(int progress, int progressMax) override;

  JobState& State() { return state_; }
  const JobState& State() const { return state_; }

 private:
  SubmissionJobParts parts_;
  JobDataLoader loader_;
  JobState state_;
  bool navigatedThisSite_ = false;
};

}  // namespace veltrane
