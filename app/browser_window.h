// TForm2: the browser window. It hosts the WebKit view as `Browser` inside
// `Panel1`, the yellow "Loading ..." panel `Panel2`, an unused `StatusBar1`
// and the page timer `TimerTimeout`, and it owns the running SubmissionJob.
// It stands off screen (left -10000), on top, for the whole run; a close
// request only moves it back there. User-interface thread only.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <optional>
#include <string>

#include "browser/failure_shots.h"
#include "browser/webkit_browser.h"
#include "jobs/submission_job.h"
#include "jobs/submission_window.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/ui_timer.h"

namespace veltrane {

struct BrowserWindowOptions {
  DatabasePaths paths = ProgramDatabasePaths();
  unsigned timeoutIntervalMs = 300000;
  double pageDeadline = SubmissionJob::kPageDeadline;
  WebKitBrowserOptions browser;
  // Where failed sites' pages are saved as PNG; empty: no screenshots.
  std::string shotsDirectory = ExecutableDirectory() + "shots";
};

class TForm2 : public SubmissionWindow,
               public LoadingIndicator,
               public BrowserEvents,
               public PageCapture {
 public:
  static constexpr int kOffScreenLeft = -10000;

  // `busy` is the main window's Busy flag; `errors` shows what escapes a handler.
  TForm2(bool& busy, MessageBox& errors, TraceSink& trace, const Clock& clock,
         BrowserWindowOptions options = {});
  ~TForm2() override;
  TForm2(const TForm2&) = delete;
  TForm2& operator=(const TForm2&) = delete;

  bool StartSubmission(ScheduleId scheduleId) override;
  bool ResumeSubmission() override;
  bool TakeOverSubmission(std::int64_t jobId) override;
  void ShowOffScreen() override;
  void MoveToLeft(int left) override;

  // Panel2.
  void Show() override;
  void Hide() override;
  bool LoadingShown() const;

  void TimerTimeoutTimer();
  // Moves the window off screen and refuses to close.
  bool FormCloseQuery();

  GtkWindow* Window() const { return GTK_WINDOW(window_); }
  WebKitBrowser& Browser() { return *browser_; }
  SubmissionJob& Job() { return *job_; }
  bool TimerTimeoutEnabled() const { return timerTimeout_->Enabled(); }

  // A failed site's page, kept by the failure shots; `then` runs guarded.
  void Capture(const std::string& site, std::function<void()> then) override;

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
  void BuildWindow();

  MessageBox& errors_;
  GtkWidget* window_ = nullptr;
  GtkWidget* panel2_ = nullptr;
  std::unique_ptr<WebKitBrowser> browser_;
  std::unique_ptr<UiTimer> timerTimeout_;
  PseudoRandom random_;
  std::unique_ptr<FailureShots> shots_;
  std::unique_ptr<SubmissionJob> job_;
};

}  // namespace veltrane
