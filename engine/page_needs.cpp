#include "engine/page_needs.h"

namespace veltrane {

bool PageTextNeeded(const JobState& state, const SiteSteps& steps) {
  if (!((state.JobRunning && !state.PageWaitOver) || state.AwaitRedirect)) return false;
  // Each turn moves to a later step; a step past the script's end has no
  // directives and ends the walk.
  for (int n = state.site.StepNumber;; ++n) {
    const StepDirectives& step = steps.Step(n).directives;
    if (!step.successString.empty() || !step.uniqueString.empty()) return true;
    if (step.pattern.empty() || step.wait == 1 || step.formPosition >= 0 || !step.address.empty())
      return false;
  }
}

}  // namespace veltrane
