// RunSiteTrial: one site's script run with one press release exactly as the
// service runs it: a WebKit control in a window of the browser window's size,
// and the service's job host (guards, page timer and deadline, read from the
// environment as the service reads them), through SubmissionJob::TrySite, so it is never a job of
// the journal and no history row is written. Every page the site handled is
// saved as a PNG. With `holdSubmission`, the first form sent that does not
// take the site's login is filled but not sent; what it would have posted is
// kept, and nothing is recorded. Without it the release is sent, and the
// ended site is recorded as a trial among the site's outcomes
// (HistoryStore::RecordTrial), its last picture as its screenshot.
// Runs the GLib main loop until the site has ended and its pictures are
// written; GTK must be initialised (ToolDisplay). User-interface thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "authoring/form_post.h"
#include "jobs/job_data.h"
#include "jobs/submission_job.h"
#include "platform/day_clock.h"
#include "platform/message_box.h"
#include "platform/trace.h"

namespace veltrane::authoring {

struct TrialRequest {
  DatabasePaths paths;
  std::string site;
  std::string pressRelease;
  bool holdSubmission = false;
  std::string shotsDirectory;  // where the pages' pictures go
};

// The form a trial held back.
struct HeldPost {
  int form = -1;
  std::string action;
  std::string method;
  std::vector<PostField> fields;  // a value the site's login filled in reads "***"
  int button = -1;  // the element it would have been sent with; -1: submitted without one
  std::string buttonCaption;
};

struct TrialResult {
  bool started = false;  // false: the press release could not be loaded
  bool ended = false;    // false: the site had not ended when the trial gave up
  SiteRecord record;     // with its evidence
  std::optional<HeldPost> held;
  std::vector<std::string> shots;  // the pictures written, in order
  bool recorded = false;           // the trial is among the site's outcomes
  std::string recordError;         // why a trial that sent its release is not
};

// `trace` gets the job's trace; `messages` what the job would show in a message box.
TrialResult RunSiteTrial(const TrialRequest& request, TraceSink& trace, MessageBox& messages,
                         const Clock& clock);

}  // namespace veltrane::authoring
