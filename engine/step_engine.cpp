#include "engine/step_engine.h"

#include <optional>
#include <string>
#include <utility>

#include "engine/form_location.h"
#include "engine/link_search.h"
#include "engine/login_hosts.h"
#include "engine/navigation_guards.h"
#include "engine/page_text.h"
#include "engine/site_script.h"
#include "engine/step_directives.h"
#include "forms/form_filling.h"
#include "forms/form_submission.h"
#include "platform/text_lists.h"

namespace veltrane {
namespace {

StepDecision Decision(StepDecision::Kind kind, std::string text = {}, bool pageMayMoveOn = false) {
  StepDecision decision;
  decision.kind = kind;
  decision.text = std::move(text);
  decision.pageMayMoveOn = pageMayMoveOn;
  return decision;
}

// Keeps the page's writes and drops its clicks and submits. The model holds
// the written values already; writing them again records them once more.
void DropSending(Page& page) {
  for (const PageAction& action : page.TakeActions()) {
    switch (action.kind) {
      case PageAction::Kind::SetValue:
        page.SetValue(action.form, action.element, action.value, action.login);
        break;
      case PageAction::Kind::SetChecked: page.SetChecked(action.form, action.element); break;
      case PageAction::Kind::SetSelectedIndex:
        page.SetSelectedIndex(action.form, action.element, action.index, action.login);
        break;
      case PageAction::Kind::Click:
      case PageAction::Kind::Submit: break;
    }
  }
}

// A non-empty APP-ErrorString replaces the engine's own reason.
std::string ReasonOr(const StepDirectives& step, const char* ownReason, const TraceSink& trace) {
  return step.failureReason.empty() ? ownReason : trace.Outside(step.failureReason);
}

class StepRunner {
 public:
  StepRunner(JobState& state, const SiteSteps& steps, Page& page, TraceSink& trace,
             PseudoRandom& random, StepContext context)
      : state_(state),
        steps_(steps),
        page_(page),
        trace_(trace),
        random_(random),
        context_(context) {}

  // Runs steps on this page until one waits for a page or ends the site.
  StepDecision Run() {
    while (HandleStep() == Outcome::NextStepHere) Advance();
    return decision_;
  }

 private:
  enum class Outcome { Done, NextStepHere };

  Outcome HandleStep() {
    const std::string address = page_.location;
    trace_.TraceLine("Document complete . Current page is : " + trace_.Outside(address));
    trace_.TraceLine("Current step : " + std::to_string(state_.site.StepNumber));
    const ScriptStep& current = steps_.Step(state_.site.StepNumber);
    const StepDirectives& step = current.directives;

    if (!step.successString.empty()) {
      trace_.TraceLine("Check for success string : " + trace_.Outside(step.successString));
      if (PageContains(page_, step.successString)) {
        trace_.TraceLine("Success String found !!");
        decision_ = Decision(StepDecision::Kind::Succeeded);
      } else {
        trace_.TraceLine("Success string not found");
        decision_ = Decision(StepDecision::Kind::Failed,
                             "Submission failed (success string not found)", true);
      }
      return Outcome::Done;
    }

    if (!step.uniqueString.empty()) {
      trace_.TraceLine("Check for unique string : " + trace_.Outside(step.uniqueString));
      if (PageContains(page_, step.uniqueString)) {
        trace_.TraceLine("Unique string found !!");
      } else {
        trace_.TraceLine("Unique string not found");
        if (step.Skip()) {
          trace_.TraceLine("Skip to next step");
          return Outcome::NextStepHere;
        }
        decision_ = Decision(StepDecision::Kind::Failed,
                             ReasonOr(step, "Redirected to unknown page", trace_), true);
        return Outcome::Done;
      }
    }

    if (step.wait == 1) {
      // A redirect that never comes must end the site, not stall the service:
      // the wait is bounded by the page deadline as well.
      decision_ = Decision(StepDecision::Kind::WaitForRedirect);
      Advance();
      return Outcome::Done;
    }

    if (step.formPosition >= 0) {
      const int position = LocateForm(page_, step.formPosition, current.fields, trace_);
      trace_.TraceLine("Filling form #" + std::to_string(position));
      if (!GetForm(page_, position)) {
        trace_.TraceLine("Invalid form NULL");
        decision_ =
            Decision(StepDecision::Kind::Failed, ReasonOr(step, "Invalid form", trace_), true);
        return Outcome::Done;
      }
      // The login goes to the site's own domain only: a login form elsewhere
      // ends the site before anything is written into it.
      if (const std::optional<std::string> foreign =
              ForeignLoginHost(page_, position, state_.site.StepValues, step.buttonValue,
                               LoginHosts(state_.site.SiteUrl, step.credentialHosts))) {
        const std::string reason = "Login form on another host (" + trace_.Outside(*foreign) + ")";
        trace_.TraceLine(reason);
        decision_ = Decision(StepDecision::Kind::Failed, reason);
        return Outcome::Done;
      }
      if (!context_.settled && FillMissesAnOption(page_, position, state_.release, state_.site)) {
        decision_ = Decision(StepDecision::Kind::WatchFirst);
        return Outcome::Done;
      }
      FillForm(page_, position, state_.release, state_.site, trace_);
      SubmitForm(page_, position, step.buttonValue);
      SendForm(position, current);
      return Outcome::Done;
    }

    if (!step.address.empty()) {
      trace_.TraceLine("Goto link " + trace_.Outside(step.address));
      NavigateAndAdvance(step.address);
      return Outcome::Done;
    }

    if (!step.pattern.empty()) {
      trace_.TraceLine("Search for link with pattern : " + trace_.Outside(step.pattern));
      const std::string link = FindLink(page_, step.pattern);
      if (!link.empty()) {
        trace_.TraceLine("Found link : " + trace_.Outside(link));
        NavigateAndAdvance(link);
        return Outcome::Done;
      }
      trace_.TraceLine("Unable to found link with pattern");
      if (address.find(step.pattern) != std::string::npos) {
        trace_.TraceLine("Oh .. this url already match with pattern , advance to next step");
        return Outcome::NextStepHere;
      }
      decision_ = Decision(StepDecision::Kind::Failed,
                           ReasonOr(step, "Unable to found link", trace_), true);
      return Outcome::Done;
    }

    if (!step.randomPattern.empty()) {
      trace_.TraceLine("Search for random link with pattern : " +
                       trace_.Outside(step.randomPattern));
      const std::string link = FindRandomLink(page_, step.randomPattern, random_);
      if (!link.empty()) {
        trace_.TraceLine("Found random link : " + trace_.Outside(link));
        NavigateAndAdvance(link);
        return Outcome::Done;
      }
      trace_.TraceLine("Unable to found random link with pattern");
      decision_ = Decision(StepDecision::Kind::Failed,
                           ReasonOr(step, "Unable to found random link", trace_), true);
      return Outcome::Done;
    }

    if (!IsLastStep(steps_, state_.site.StepNumber)) {
      trace_.TraceLine("Unable to continue");
      decision_ = Decision(StepDecision::Kind::Failed, "Invalid setting");
    } else {
      trace_.TraceLine("Last step");
      // An error page is no accepted submission, unless a success string
      // said otherwise above.
      if (page_.statusCode >= 400) {
        const std::string reason =
            "HTTP " + std::to_string(page_.statusCode) + " on " + trace_.Outside(address);
        trace_.TraceLine(reason);
        decision_ = Decision(StepDecision::Kind::Failed, reason);
      } else {
        decision_ = Decision(StepDecision::Kind::Succeeded);
      }
    }
    return Outcome::Done;
  }

  // After form `position` was filled and asked to be sent: notes the controls
  // it lacks, and holds it back when the context says so.
  void SendForm(int position, const ScriptStep& current) {
    const std::vector<StepValue>& values = state_.site.StepValues;
    const PageForm& form = *GetForm(page_, position);
    decision_ = Decision(StepDecision::Kind::WaitForPage);
    decision_.form = position;
    decision_.button = SubmitButton(form, current.directives.buttonValue);
    decision_.loginSent = FillWritesLogin(page_, position, values);
    decision_.loginFilled = decision_.loginSent;
    decision_.missingControls = MissingControls(form, current.fields);
    if (!decision_.missingControls.empty())
      trace_.TraceLine("Form changed: form #" + std::to_string(position) + " has no control " +
                       trace_.Outside(CommaList(decision_.missingControls)));
    decision_.releaseSent = FillWritesRelease(page_, position, values);
    const bool loginOnly = decision_.loginSent && !decision_.releaseSent;
    // The step advances first: the site's evidence names the success text it would have awaited.
    Advance();
    if (!context_.holdReleaseForms || loginOnly) return;
    DropSending(page_);
    trace_.TraceLine("Form #" + std::to_string(position) +
                     " filled and held back: nothing was sent");
    decision_.kind = StepDecision::Kind::Failed;
    decision_.text = "Stopped before sending the form";
    decision_.held = true;
    decision_.loginSent = false;
    decision_.releaseSent = false;
  }

  void NavigateAndAdvance(const std::string& url) {
    // Refused here as the navigation guard would: WebKit runs a javascript:
    // address given to it in the current page without asking the guard. As
    // with any refused navigation, no page comes and the deadline ends the site.
    if (RefusedScheme(url)) {
      trace_.TraceLine("Navigation refused: " + trace_.Outside(url));
      decision_ = Decision(StepDecision::Kind::WaitForPage);
    } else {
      decision_ = Decision(StepDecision::Kind::Navigate, url);
    }
    Advance();
  }

  void Advance() {
    ++state_.site.StepNumber;
    LoadStep(state_, steps_, state_.site.StepNumber);
  }

  JobState& state_;
  const SiteSteps& steps_;
  Page& page_;
  TraceSink& trace_;
  PseudoRandom& random_;
  const StepContext context_;
  StepDecision decision_;
};

}  // namespace

StepDecision BrowserDocumentComplete(JobState& state, const SiteSteps& steps, Page& page,
                                     TraceSink& trace, PseudoRandom& random, StepContext context) {
  if (!((state.JobRunning && !state.PageWaitOver) || state.AwaitRedirect))
    return Decision(StepDecision::Kind::NotAwaited);
  state.AwaitRedirect = false;
  return StepRunner(state, steps, page, trace, random, context).Run();
}

}  // namespace veltrane
