// The step engine: on every completed top-level page it runs the current step
// of the current site's script against that page. A step checks a success or
// unique string, waits for a redirect, fills and submits a form, or opens an
// address or a link found by pattern; then it waits for the next page, runs
// the next step on the same page, or ends the site through the host. A form
// step that would write the site's login into a form on a host outside the
// site's domain (LoginHosts) ends the site unfilled, and a script that ends
// on an HTTP error page (status 400 and above) without a success string fails.
// All state lives in the JobState; user-interface thread only.
#pragma once

#include "browser/page.h"
#include "engine/pseudo_random.h"
#include "engine/step_host.h"
#include "model/job_state.h"
#include "platform/trace.h"

namespace veltrane {

// Handles one completed top-level page. Pages that arrive while no page and
// no redirect is awaited only hide the loading panel.
void BrowserDocumentComplete(JobState& state, Page& page, StepHost& host, TraceSink& trace,
                             PseudoRandom& random);

}  // namespace veltrane
