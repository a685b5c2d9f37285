#include "authoring/site_trial.h"

#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "authoring/page_shots.h"
#include "authoring/tool_window.h"
#include "jobs/job_host.h"
#include "jobs/service_timing.h"
#include "platform/glib_handles.h"
#include "platform/ui_timer.h"
#include "storage/stores.h"

namespace veltrane::authoring {
namespace {

// A trial whose site has not ended by then has met a fault of its own; every
// wait of the job has a deadline far shorter.
constexpr std::chrono::minutes kTrialBound{30};

// Between the control and the job host: every event goes on to the host as
// it would in the service; each completed page is also pictured, once the
// control has carried out what the job wrote on it.
class PicturingEvents : public BrowserEvents {
 public:
  PicturingEvents(BrowserEvents& host, PageShots& shots, TraceSink& trace)
      : host_(host), shots_(shots), trace_(trace) {}

  void DocumentComplete(Page& page) override {
    host_.DocumentComplete(page);
    Picture();
  }
  // A picture is asked for or being taken.
  bool Busy() const { return waiting_ > 0 || shots_.Pending(); }
  void BeforeNavigate2(const std::string& url, bool& cancel) override {
    host_.BeforeNavigate2(url, cancel);
  }
  void NewWindow2(const std::string& url, bool& cancel) override { host_.NewWindow2(url, cancel); }
  void PrintRefused(const std::string& url) override { host_.PrintRefused(url); }
  void DownloadRefused(const std::string& url, bool requested) override {
    host_.DownloadRefused(url, requested);
  }
  void PageDropped(const std::string& url) override { host_.PageDropped(url); }
  // A page updated in place is pictured as it stands, like a page of its own.
  void PageSettled(Page& page, const PageChange& change) override {
    host_.PageSettled(page, change);
    Picture();
  }
  void SubmitDisabled(const std::string& url) override { host_.SubmitDisabled(url); }
  void NavigateError(const std::string& url, std::int32_t statusCode, const std::string& message,
                     bool& cancel) override {
    host_.NavigateError(url, statusCode, message, cancel);
  }
  void ProgressChange(int progress, int progressMax) override {
    host_.ProgressChange(progress, progressMax);
  }
  void NavigateComplete2(const std::string& url) override { host_.NavigateComplete2(url); }
  void RequestRefused(const std::string& host) override { host_.RequestRefused(host); }
  void RequestGuardUnconfirmed() override { host_.RequestGuardUnconfirmed(); }
  bool WantsPageText() override { return host_.WantsPageText(); }

 private:
  void Picture() {
    // Asked on the next turn of the loop: after the control has replayed the
    // page's writes, before a page the job asked for can replace it.
    ++waiting_;
    pictures_.push_back(std::make_unique<TimeoutSource>(std::chrono::milliseconds(0), [this] {
      --waiting_;
      trace_.TraceLine(shots_.Capture());
    }));
  }

  BrowserEvents& host_;
  PageShots& shots_;
  TraceSink& trace_;
  std::vector<std::unique_ptr<TimeoutSource>> pictures_;
  int waiting_ = 0;
};

HeldPost HeldPostOf(const Page& page, int form, int button) {
  HeldPost held;
  // What the site's login filled in is shown as "***", never as it is.
  PageForm sent = page.forms[static_cast<std::size_t>(form)];
  for (FormElement& element : sent.elements) {
    if (!element.login) continue;
    element.value = "***";
    for (SelectOption& option : element.options) option.value = "***";
  }
  held.form = form;
  held.action = sent.action;
  held.method = sent.method.empty() ? "get" : sent.method;
  held.fields = FormDataSet(sent, button);
  held.button = button;
  held.buttonCaption = ButtonCaption(sent, button);
  return held;
}

// A trial that may have sent the release is kept beside the service's jobs,
// so that a later scheduled run is not taken for the site's first.
void RecordTrial(const TrialRequest& request, TrialResult& result) {
  SiteRecord record = result.record;
  if (!result.shots.empty())
    record.evidence.screenshot = std::filesystem::absolute(result.shots.back()).string();
  try {
    MakeHistoryStore(request.paths, SqliteStoreOptions{60000, true})
        ->RecordTrial(request.pressRelease, record);
    result.record = record;
    result.recorded = true;
  } catch (const StorageError& error) {
    result.recordError = error.Message();
  }
}

}  // namespace

TrialResult RunSiteTrial(const TrialRequest& request, TraceSink& trace, MessageBox& messages,
                         const Clock& clock) {
  const ServiceTiming timing =
      ReadServiceTiming([](const char* name) { return std::getenv(name); });
  JobHostOptions options;
  options.paths = request.paths;
  options.timeoutIntervalMs = timing.pageTimerMs;
  options.pageDeadline = timing.pageDeadline;
  options.shotsDirectory.clear();  // every page is pictured below

  WebKitBrowser browser;
  const ToolWindow window(browser.Widget());
  RecordingLoadingIndicator panel2;  // no window shows it
  JobHost host(browser, panel2, messages, trace, clock, options);
  PageShots shots(browser.View(), request.shotsDirectory);
  PicturingEvents events(host, shots, trace);
  browser.SetEvents(&events);

  TrialResult result;
  SiteTrial trial;
  trial.pressRelease = request.pressRelease;
  trial.site = request.site;
  trial.holdSubmission = request.holdSubmission;
  trial.held = [&result](const Page& page, int form, int button) {
    result.held = HeldPostOf(page, form, button);
  };
  trial.ended = [&result](const SiteRecord& record) {
    result.ended = true;
    result.record = record;
  };
  result.started = host.Job().TrySite(std::move(trial));

  if (result.started) {
    const auto end = std::chrono::steady_clock::now() + kTrialBound;
    UiTimer wake(50, true, [] {});  // the loop below looks at the trial at least this often
    while ((!result.ended || events.Busy()) && std::chrono::steady_clock::now() < end)
      g_main_context_iteration(nullptr, TRUE);
  }
  browser.SetEvents(nullptr);
  result.shots = shots.Saved();
  if (result.ended && !request.holdSubmission) RecordTrial(request, result);
  return result;
}

}  // namespace veltrane::authoring
