// Whether the next page's text is needed, checked against the step engine
// itself: where the answer is no, a page without its text gets the same
// decision as one with it.
#include "engine/page_needs.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/step_engine.h"

namespace veltrane {
namespace {

struct NeedsCase {
  std::string script;
  int step;
  bool running;
  bool waitOver;
  bool awaitRedirect;
  bool needed;
};

StepDecision Decide(const NeedsCase& c, const SiteSteps& steps, bool withText) {
  JobState state;
  state.JobRunning = c.running;
  state.PageWaitOver = c.waitOver;
  state.AwaitRedirect = c.awaitRedirect;
  state.site.StepNumber = c.step;
  LoadStep(state, steps, c.step);
  Page page;
  page.location = "http://127.0.0.1/news/welcome";
  page.statusCode = 200;
  FormElement input;
  input.kind = ElementKind::Input;
  input.name = "q";
  input.type = "text";
  page.forms.push_back({"http://127.0.0.1/post", "post", {input}});
  if (withText) page.source = "<p>Welcome. Thank you</p>";
  DiscardingTrace trace;
  PseudoRandom random{7};
  return BrowserDocumentComplete(state, steps, page, trace, random);
}

TEST(PageTextNeeded, OnlyStepsThatCheckTextOnThePageNeedIt) {
  const std::string success = "[STEP1]\nAPP-SuccessString=Thank you\n";
  const std::string formThenSuccess =
      "[STEP1]\nAPP-FormPos=0\nq=x\n" + std::string("[STEP2]\nAPP-SuccessString=Thank you\n");
  const NeedsCase cases[] = {
      {success, 1, true, false, false, true},
      {"[STEP1]\nAPP-UniqueString=Welcome\nAPP-FormPos=0\nq=x\n", 1, true, false, false, true},
      {formThenSuccess, 1, true, false, false, false},
      {formThenSuccess, 2, true, false, false, true},
      // A link search on a page already at its pattern moves on to the next step here.
      {"[STEP1]\nAPP-SearchLinkPattern=news\n[STEP2]\nAPP-SuccessString=Thank you\n", 1, true,
       false, false, true},
      {"[STEP1]\nAPP-SearchLinkPattern=news\n[STEP2]\nAPP-FormPos=0\nq=x\n", 1, true, false, false,
       false},
      {"[STEP1]\nAPP-WaitForRedirect=1\n[STEP2]\nAPP-SuccessString=Thank you\n", 1, true, false,
       false, false},
      {"[STEP1]\nAPP-GotoLink=http://127.0.0.1/next\n", 1, true, false, false, false},
      {"[STEP1]\nAPP-Note=last\n", 1, true, false, false, false},
      {success, 3, true, false, false, false},   // past the script's end
      {success, 1, false, false, false, false},  // no job
      {success, 1, true, true, false, false},    // the page deadline passed
      {success, 1, false, false, true, true},    // a redirect is awaited
  };
  for (const NeedsCase& c : cases) {
    const SiteSteps steps(c.script);
    JobState state;
    state.JobRunning = c.running;
    state.PageWaitOver = c.waitOver;
    state.AwaitRedirect = c.awaitRedirect;
    state.site.StepNumber = c.step;
    EXPECT_EQ(c.needed, PageTextNeeded(state, steps)) << c.script << " step " << c.step;
    if (c.needed) continue;
    const StepDecision with = Decide(c, steps, true);
    const StepDecision without = Decide(c, steps, false);
    EXPECT_EQ(with.kind, without.kind) << c.script << " step " << c.step;
    EXPECT_EQ(with.text, without.text) << c.script << " step " << c.step;
  }
}

}  // namespace
}  // namespace veltrane
