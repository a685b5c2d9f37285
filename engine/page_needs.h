// What the step engine will read of the next completed page: whether a step
// that runs on it checks a success or unique string, and so needs the page's
// text (source bytes, or the body's outer HTML). Plain data in, a yes or no
// out; the browser skips reading the text of a page that needs none.
#pragma once

#include "engine/site_script.h"
#include "model/job_state.h"

namespace veltrane {

// True when the step engine, handed the next page in `state`, would run a
// step with a success or unique string on it: the current step, or a later
// one it may move on to on the same page (after a link search that finds no
// link on a page whose address already matches). False when no page is
// awaited (BrowserDocumentComplete would not look at it).
bool PageTextNeeded(const JobState& state, const SiteSteps& steps);

}  // namespace veltrane
