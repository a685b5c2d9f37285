// SiteLane: one lane of the running job, the part of it that runs one site at
// a time: its browser, page timer and failure capture, the site it holds with
// its run (address, script, login, step, page deadline, redirect wait), engine
// state, evidence and watch, and a trace of its own that hides that site's
// password. The first lane's run is the job's own JobState; another lane keeps
// a JobState of its own with a copy of the job's press release. The job hands
// a lane its next site and takes the site's end from it. Plain data; owned by
// the SubmissionJob. User-interface thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "browser/browser_control.h"
#include "browser/loading_indicator.h"
#include "browser/page_capture.h"
#include "engine/login_hosts.h"
#include "engine/site_script.h"
#include "jobs/job_data.h"
#include "jobs/redacting_trace.h"
#include "model/job_state.h"
#include "model/site_record.h"
#include "platform/ui_timer.h"

namespace veltrane {

// What a lane runs its sites with.
struct LaneParts {
  BrowserControl* browser = nullptr;
  std::function<void(bool)> setTimerEnabled;  // the lane's page timer on or off
  // When set, a failed site's page is captured before the lane takes another.
  PageCapture* failedPageCapture = nullptr;
  LoadingIndicator* panel = nullptr;  // shown while a page loads; none when null
};

// The loading panel of a lane that shows none.
class NoLoadingIndicator : public LoadingIndicator {
 public:
  void Show() override {}
  void Hide() override {}
};

// Writes each line with "[lane <n>] " ahead of it, so that the lines of sites
// run at once can be told apart.
class LaneTrace : public TraceSink {
 public:
  LaneTrace(TraceSink& out, int number) : out_(out), prefix_(LanePrefix(number)) {}
  static std::string LanePrefix(int number) { return "[lane " + std::to_string(number) + "] "; }
  bool TraceLine(const std::string& text) override { return out_.TraceLine(prefix_ + text); }

 private:
  TraceSink& out_;
  std::string prefix_;
};

struct SiteLane {
  // What the page being watched (WatchPage) is watched for.
  enum class Watching { Idle, Submission, Failure, Lists };

  LaneParts parts;
  JobState* state = nullptr;  // the run of the site this lane holds
  std::unique_ptr<JobState> ownState;
  RedactingTrace* trace = nullptr;  // hides the password of this lane's site
  std::unique_ptr<LaneTrace> prefixed;
  std::unique_ptr<RedactingTrace> ownTrace;
  // Reads the lane's sites' rows, tracing under the lane's prefix; the
  // job's own loader when it runs one lane.
  std::unique_ptr<JobDataLoader> ownLoader;
  JobDataLoader* loader = nullptr;

  NoLoadingIndicator noPanel;
  bool holding = false;     // a site was handed to this lane and the lane has not let it go
  std::string host;         // the host of the held site's address ("" when unknown)
  SiteSteps siteSteps{""};  // the site's script, parsed when the site starts
  bool navigatedThisSite = false;
  bool siteOpen = false;         // the site has started and not ended
  bool claimed = false;          // its claim was taken (on a shared server)
  std::uint64_t siteSerial = 0;  // counts the sites started, to spot stale callbacks
  int currentPosition = 0;       // the site's place in the job's site list
  double siteStarted = 0.0;
  SiteEvidence evidence;
  // Where the site's login may go, from the step that filled it in until the
  // site ends: the view refuses every other request meanwhile.
  std::optional<LoginHosts> requestGuard;
  std::set<std::string> refusedHosts;  // traced once per site
  // The login was just sent: set from its submission until the next document
  // commits or the site ends. A navigation elsewhere then fails the site.
  bool loginInFlight = false;
  Watching watching = Watching::Idle;
  std::string heldFailure;  // the failure a Failure watch holds back
  bool submitting = false;  // its release was sent and the site has not ended
  std::chrono::milliseconds storeRetryDelay{0};
  std::unique_ptr<UiTimer> storeRetry;
};

}  // namespace veltrane
