// The step engine: on every completed top-level page it runs the current step
// of the current site's script against that page. A step checks a success or
// unique string, waits for a redirect, fills and submits a form, or opens an
// address or a link found by pattern; then it runs the next step on the same
// page, or returns what comes next: wait for the next page (after a form was
// submitted, or for a redirect), open an address, or end the site. The caller
// carries that out once the engine has returned. A form
// step that would write the site's login into a form on a host outside the
// site's domain (LoginHosts) ends the site unfilled, and a script that ends
// on an HTTP error page (status 400 and above) without a success string fails.
// All state lives in the JobState and the parsed steps; user-interface thread only.
#pragma once

#include <string>
#include <vector>

#include "browser/page.h"
#include "engine/pseudo_random.h"
#include "engine/site_script.h"
#include "model/job_state.h"
#include "platform/trace.h"

namespace veltrane {

struct StepDecision {
  enum class Kind {
    NotAwaited,       // no page and no redirect was awaited: the page changes nothing
    WaitForPage,      // a form was submitted (or a navigation refused): arm the deadline
    WaitForRedirect,  // await the next page as a redirect, within the deadline
    Navigate,         // open `text`, then arm the deadline
    WatchFirst,       // a list lacks the option wanted: watch the page, then run the step again
    Succeeded,        // the site succeeded
    Failed,           // the site failed; `text` is the reason
  };
  Kind kind = Kind::NotAwaited;
  std::string text;
  // A failure on what the page lacks (a form, a link, a text): a page that
  // is sending itself on by script may still bring it.
  bool pageMayMoveOn = false;
  // A form step sent form `form` (with the login when `loginSent`), clicking
  // element `button` (-1: submitted without a button); form -1 when none.
  int form = -1;
  int button = -1;
  bool loginSent = false;
  // The step wrote the login into the page, whether it was sent or held back.
  bool loginFilled = false;
  // The sent form carries values of the press release (FillWritesRelease).
  bool releaseSent = false;
  // The controls the step named that the sent form lacks: the site changed.
  std::vector<std::string> missingControls;
  // The form was filled and held back (StepContext::holdReleaseForms).
  bool held = false;
};

struct StepContext {
  // The page was watched already (see WatchFirst), so a list without its
  // option takes index 1 at once.
  bool settled = false;
  // A filled form that carries the release is held back instead of sent: its
  // values are written, nothing is clicked or submitted, and the site fails
  // with "Stopped before sending the form". A form that takes only the login
  // goes through, so that a trial can go on behind it.
  bool holdReleaseForms = false;
};

// Handles one completed top-level page and says what comes next. `steps` is
// the site's script, parsed once when the site started; the current step's
// directives and form fields come from it, and StepValues, which forms are
// filled from, follows it as steps advance. A page that is taken clears
// AwaitRedirect; the caller disarms the deadline before it carries out the
// decision.
StepDecision BrowserDocumentComplete(JobState& state, const SiteSteps& steps, Page& page,
                                     TraceSink& trace, PseudoRandom& random,
                                     StepContext context = {});

}  // namespace veltrane
