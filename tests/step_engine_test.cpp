// The step engine on plain pages: rule order, traces, failure reasons.
#include "engine/step_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/site_script.h"

namespace veltrane {
namespace {

// Records what the engine asked of the window.
// Carries out the engine's decision on a page as the job does, as a list of calls.
struct RecordingHost {
  void Take(JobState& state, const SiteSteps& steps, Page& page, TraceSink& trace,
            PseudoRandom& random) {
    calls.push_back("hide panel");
    const StepDecision decision = BrowserDocumentComplete(state, steps, page, trace, random);
    if (decision.kind == StepDecision::Kind::NotAwaited) return;
    calls.push_back("disarm");
    switch (decision.kind) {
      case StepDecision::Kind::NotAwaited: return;
      case StepDecision::Kind::WaitForRedirect: state.AwaitRedirect = true; [[fallthrough]];
      case StepDecision::Kind::WaitForPage: calls.push_back("arm"); return;
      case StepDecision::Kind::Navigate:
        calls.push_back("navigate " + decision.text);
        calls.push_back("arm");
        return;
      case StepDecision::Kind::WatchFirst: calls.push_back("watch first"); return;
      case StepDecision::Kind::Succeeded: calls.push_back("succeeded"); return;
      case StepDecision::Kind::Failed: calls.push_back("failed: " + decision.text); return;
    }
  }
  std::vector<std::string> calls;
};

FormElement Input(const std::string& name, const std::string& type = "text",
                  const std::string& value = "") {
  FormElement element;
  element.kind = ElementKind::Input;
  element.name = name;
  element.type = type;
  element.value = value;
  return element;
}

PageForm FormOf(std::vector<FormElement> elements, const std::string& action = "") {
  PageForm form;
  form.action = action;
  form.method = "post";
  form.elements = std::move(elements);
  return form;
}

class StepEngineTest : public ::testing::Test {
 protected:
  // Starts a site on `script`, waiting for its first page.
  void StartSite(const std::string& script) {
    state.site.SiteScript = script;
    steps = SiteSteps(script);
    state.JobRunning = true;
    state.PageWaitOver = false;
    state.site.StepNumber = 1;
    LoadStep(state, steps, 1);
  }
  void Complete() { host.Take(state, steps, page, trace, random); }

  JobState state;
  SiteSteps steps{""};
  Page page;
  RecordingHost host;
  RecordingTrace trace;
  PseudoRandom random{7};
};

using Calls = std::vector<std::string>;

TEST_F(StepEngineTest, PageWhileNothingIsAwaitedOnlyHidesThePanel) {
  StartSite("[STEP1]\nAPP-SuccessString=done\n");
  state.PageWaitOver = true;
  Complete();
  EXPECT_EQ(Calls{"hide panel"}, host.calls);
  state.JobRunning = false;
  state.PageWaitOver = false;
  Complete();
  EXPECT_EQ((Calls{"hide panel", "hide panel"}), host.calls);
  EXPECT_TRUE(trace.lines.empty());
}

TEST_F(StepEngineTest, SuccessCheckEndsTheSiteAndIgnoresFormAndErrorString) {
  page.location = "http://127.0.0.1/thanks";
  page.source = "<p>Thank you!</p>";
  page.forms.push_back(FormOf({Input("title")}));
  StartSite("[STEP1]\nAPP-SuccessString=Thank you\nAPP-FormPos=0\ntitle=x\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "succeeded"}), host.calls);
  EXPECT_TRUE(page.Actions().empty());  // the form was never filled
  EXPECT_EQ((std::vector<std::string>{
                "Document complete . Current page is : http://127.0.0.1/thanks", "Current step : 1",
                "Check for success string : Thank you", "Success String found !!"}),
            trace.lines);

  host.calls.clear();
  StartSite("[STEP1]\nAPP-SuccessString=thank you\nAPP-ErrorString=custom\n");
  Complete();  // case counts
  EXPECT_EQ("failed: Submission failed (success string not found)", host.calls.back());
}

// Step values are UTF-8; a windows-1252 page holds the same text in other bytes.
TEST_F(StepEngineTest, NonAsciiStringsAreFoundInPagesOfALegacyCharacterSet) {
  page.source =
      "<p>Vielen Dank und Gr\xfc\xdf"
      "e</p>";
  page.characterSet = "windows-1252";
  StartSite(
      "[STEP1]\nAPP-UniqueString=Dank und Gr\xc3\xbc\xc3\x9f"
      "e\nAPP-GotoLink=http://127.0.0.1/next\n");
  Complete();
  EXPECT_EQ("Unique string found !!", trace.lines[3]);
  EXPECT_EQ("navigate http://127.0.0.1/next", host.calls[2]);

  StartSite(
      "[STEP1]\nAPP-SuccessString=Gr\xc3\xbc\xc3\x9f"
      "e\n");
  Complete();
  EXPECT_EQ("succeeded", host.calls.back());
  // The same bytes read as UTF-8 are not the value.
  page.characterSet = "UTF-8";
  Complete();
  EXPECT_EQ("failed: Submission failed (success string not found)", host.calls.back());
}

TEST_F(StepEngineTest, UniqueStringFailuresUseTheErrorStringOrTheEnginesReason) {
  page.source = "<p>Login</p>";
  StartSite("[STEP1]\nAPP-UniqueString=Welcome\n[STEP2]\nAPP-GotoLink=http://x/\n");
  Complete();
  EXPECT_EQ("failed: Redirected to unknown page", host.calls.back());
  StartSite("[STEP1]\nAPP-UniqueString=Welcome\nAPP-ErrorString=Login refused\n");
  Complete();
  EXPECT_EQ("failed: Login refused", host.calls.back());
}

TEST_F(StepEngineTest, FoundUniqueStringWithNothingElseDependsOnWhetherAStepFollows) {
  page.source = "Welcome back";
  StartSite(
      "[STEP1]\nAPP-UniqueString=Welcome\nAPP-ErrorString=ignored\n[STEP2]\nAPP-GotoLink=x\n");
  Complete();
  EXPECT_EQ("failed: Invalid setting", host.calls.back());  // not replaced by APP-ErrorString
  StartSite("[STEP1]\nAPP-UniqueString=Welcome\n");
  Complete();
  EXPECT_EQ("succeeded", host.calls.back());
  EXPECT_EQ("Last step", trace.lines.back());
}

TEST_F(StepEngineTest, SkippableStepsPassOnOnePageAndBeyondTheLastSucceed) {
  page.source = "nothing here";
  StartSite(
      "[STEP1]\nAPP-UniqueString=a\nAPP-Skipable=TRUE\n"
      "[STEP2]\nAPP-UniqueString=b\nAPP-Skipable=true\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "succeeded"}), host.calls);
  EXPECT_EQ(3, state.site.StepNumber);
  // Skipable without a unique string has no effect.
  StartSite("[STEP1]\nAPP-Skipable=true\n[STEP2]\nAPP-GotoLink=x\n");
  Complete();
  EXPECT_EQ("failed: Invalid setting", host.calls.back());
}

TEST_F(StepEngineTest, RedirectWaitFillsNothingAndIsBoundedByTheDeadline) {
  page.forms.push_back(FormOf({Input("title")}));
  StartSite(
      "[STEP1]\nAPP-WaitForRedirect=1\nAPP-FormPos=0\ntitle=x\n[STEP2]\nAPP-SuccessString=ok\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "arm"}), host.calls);
  EXPECT_TRUE(state.AwaitRedirect);
  EXPECT_EQ(2, state.site.StepNumber);
  EXPECT_TRUE(page.Actions().empty());

  // The redirected page is taken even though the wait counts as over.
  state.PageWaitOver = true;
  page.source = "ok";
  Complete();
  EXPECT_FALSE(state.AwaitRedirect);
  EXPECT_EQ("succeeded", host.calls.back());
}

TEST_F(StepEngineTest, FormStepFillsSubmitsAndIgnoresTheAddress) {
  PageForm form;
  form.elements = {Input("title"), Input("go", "submit", "Send")};
  page.forms.push_back(form);
  StartSite(
      "[STEP1]\nAPP-FormPos=0\nAPP-GotoLink=http://elsewhere/\ntitle=Hello\n[STEP2]\n"
      "APP-SuccessString=ok\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "arm"}), host.calls);
  ASSERT_EQ(2u, page.Actions().size());
  EXPECT_EQ(PageAction::Kind::SetValue, page.Actions()[0].kind);
  EXPECT_EQ("Hello", page.Actions()[0].value);
  EXPECT_EQ(PageAction::Kind::Click, page.Actions()[1].kind);
  EXPECT_EQ(2, state.site.StepNumber);
  EXPECT_EQ("Current formpos is correct!", trace.lines[2]);
  EXPECT_EQ("Filling form #0", trace.lines[3]);
}

TEST_F(StepEngineTest, MissingFormFailsWithInvalidFormUnlessTheStepNamesAReason) {
  page.forms.push_back(FormOf({Input("title")}));
  StartSite("[STEP1]\nAPP-FormPos=1\ntitle=x\n");
  Complete();
  EXPECT_EQ("failed: Invalid form", host.calls.back());
  EXPECT_EQ("Invalid form NULL", trace.lines.back());
  StartSite("[STEP1]\nAPP-FormPos=3\nAPP-ErrorString=No form today\n");
  Complete();
  EXPECT_EQ("failed: No form today", host.calls.back());
}

TEST_F(StepEngineTest, AddressAndLinkStepsNavigateArmAndAdvance) {
  page.location = "http://127.0.0.1/home";
  page.links = {"http://127.0.0.1/login", "http://127.0.0.1/submit-news"};
  StartSite("[STEP1]\nAPP-FormPos=-1\nAPP-GotoLink=http://127.0.0.1/start\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "navigate http://127.0.0.1/start", "arm"}), host.calls);
  EXPECT_EQ(2, state.site.StepNumber);

  host.calls.clear();
  StartSite("[STEP1]\nAPP-SearchLinkPattern=submit news\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "navigate http://127.0.0.1/submit-news", "arm"}),
            host.calls);

  host.calls.clear();
  StartSite("[STEP1]\nAPP-SearchRandomLinkPattern=login\n");
  Complete();
  EXPECT_EQ("navigate http://127.0.0.1/login", host.calls[2]);
}

TEST_F(StepEngineTest, UnmatchedPatternGoesOnWhenTheAddressAlreadyHoldsIt) {
  page.location = "http://127.0.0.1/members/submit";
  StartSite(
      "[STEP1]\nAPP-SearchLinkPattern=members/submit\n[STEP2]\nAPP-GotoLink=http://127.0.0.1/"
      "next\n");
  Complete();
  EXPECT_EQ("navigate http://127.0.0.1/next", host.calls[2]);
  EXPECT_EQ(3, state.site.StepNumber);

  StartSite("[STEP1]\nAPP-SearchLinkPattern=nowhere\n");
  Complete();
  EXPECT_EQ("failed: Unable to found link", host.calls.back());
  StartSite("[STEP1]\nAPP-SearchRandomLinkPattern=nowhere\nAPP-ErrorString=No random\n");
  Complete();
  EXPECT_EQ("failed: No random", host.calls.back());
}

// Only http(s) addresses are opened; the page deadline ends a refused one.
TEST_F(StepEngineTest, AddressesOfOtherSchemesAreNeverOpened) {
  page.links = {"javascript:void(0)", "http://127.0.0.1/void"};
  StartSite("[STEP1]\nAPP-GotoLink=file:///etc/passwd\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "arm"}), host.calls);
  EXPECT_EQ("Navigation refused: file:///etc/passwd", trace.lines.back());
  EXPECT_EQ(2, state.site.StepNumber);
  StartSite("[STEP1]\nAPP-SearchLinkPattern=void\n");
  Complete();
  EXPECT_EQ("Navigation refused: javascript:void(0)", trace.lines.back());
  EXPECT_EQ("arm", host.calls.back());
  StartSite("[STEP1]\nAPP-GotoLink=HTTPS://127.0.0.1/\n");
  Complete();
  EXPECT_EQ("navigate HTTPS://127.0.0.1/", host.calls[host.calls.size() - 2]);
}

// The login goes only to the registrable domain of the site's start address
// (or of an APP-CredentialHosts host), on its port; the page and the form's
// action count.
TEST_F(StepEngineTest, LoginFormsOutsideTheSitesDomainFailUnfilled) {
  struct Case {
    std::string siteUrl;
    std::string location;
    std::string action;
    std::string extraLine;
    std::string failure;  // empty: the form is filled and submitted
  };
  const std::vector<Case> cases = {
      {"https://www.example.com/start", "https://www.example.com/login",
       "https://collect.other.net/x", "", "Login form on another host (collect.other.net)"},
      {"https://www.example.com/start", "https://login.other.net/", "https://www.example.com/post",
       "", "Login form on another host (login.other.net)"},
      // The page's host is named when both are elsewhere.
      {"https://www.example.com/", "https://a.other.net/", "https://b.evil.org/", "",
       "Login form on another host (a.other.net)"},
      {"https://www.example.com/", "https://www.example.com/", "https://example.com.evil.org/", "",
       "Login form on another host (example.com.evil.org)"},
      {"https://mine.github.io/", "https://theirs.github.io/", "", "",
       "Login form on another host (theirs.github.io)"},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/login", "http://127.0.0.2:8080/", "",
       "Login form on another host (127.0.0.2)"},
      // Another port is another origin.
      {"http://127.0.0.1:8080/", "http://127.0.0.1:9090/login", "", "",
       "Login form on another host (127.0.0.1)"},
      {"https://www.example.com/start", "https://accounts.example.com/",
       "https://AUTH.example.com:8443/post", "", "Login form on another host (auth.example.com)"},
      {"https://www.example.com/", "about:blank", "", "",
       "Login form on another host (about:blank)"},
      {"https://www.example.com/", "https://sso.partner.org/", "",
       "APP-CredentialHosts=elsewhere.test", "Login form on another host (sso.partner.org)"},
      // Passing: subdomains, an unread or non-http action, listed hosts, an IP's own port.
      {"https://www.example.com/start", "https://accounts.example.com/",
       "https://AUTH.example.com/post", "", ""},
      {"https://www.example.co.uk/", "https://example.co.uk/", "javascript:void(0)", "", ""},
      {"https://www.example.com/", "https://sso.partner.org/", "https://id.partner.org/",
       "APP-CredentialHosts= elsewhere.test  login.partner.org", ""},
      {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/login", "", "", ""},
      {"http://localhost:8080/", "http://login.localhost:8080/", "", "", ""},
  };
  for (const Case& c : cases) {
    page = Page();
    page.location = c.location;
    page.forms.push_back(FormOf({Input("user"), Input("pw", "password")}, c.action));
    host.calls.clear();
    trace.lines.clear();
    state.site.SiteUrl = c.siteUrl;
    StartSite("[STEP1]\nAPP-FormPos=0\nAPP-ErrorString=not this\nuser=$$UserName$$\npw=x\n" +
              c.extraLine + "\n[STEP2]\nAPP-SuccessString=ok\n");
    Complete();
    if (c.failure.empty()) {
      EXPECT_EQ("arm", host.calls.back()) << c.location << " " << c.action;
      EXPECT_EQ(3u, page.Actions().size()) << c.location << " " << c.action;
    } else {
      EXPECT_EQ("failed: " + c.failure, host.calls.back()) << c.location << " " << c.action;
      EXPECT_EQ(c.failure, trace.lines.back());
      EXPECT_TRUE(page.Actions().empty()) << c.location << " " << c.action;
    }
  }
  // The button the step clicks sends the form to its own formaction.
  state.site.SiteUrl = "https://www.example.com/";
  for (const std::string button : {"Send", "Other"}) {
    page = Page();
    page.location = "https://www.example.com/login";
    FormElement send = Input("", "submit", "Send");
    send.formAction = "https://collect.other.net/x";
    page.forms.push_back(FormOf({Input("user"), Input("", "submit", "Other"), send},
                                "https://www.example.com/post"));
    host.calls.clear();
    StartSite("[STEP1]\nAPP-FormPos=0\nAPP-SubmitButtonValue=" + button +
              "\nuser=$$UserName$$\n[STEP2]\nAPP-SuccessString=ok\n");
    Complete();
    EXPECT_EQ(button == "Send" ? "failed: Login form on another host (collect.other.net)" : "arm",
              host.calls.back())
        << button;
  }
}

TEST_F(StepEngineTest, FormsThatGetNoLoginAreFilledOnAnyHost) {
  state.site.SiteUrl = "https://www.example.com/";
  state.site.login.Password = "secret";
  state.release.CompanyName = "Acme $$password$$";  // a press-release value never brings the login
  page.location = "https://news.other.net/submit";
  page.forms.push_back(FormOf({Input("company"), Input("title")}, "https://news.other.net/post"));
  // "pw" names no control of this form, so its login value is never written.
  StartSite("[STEP1]\nAPP-FormPos=0\ncompany=$$company$$\ntitle=Hello\npw=$$password$$\n");
  Complete();
  EXPECT_EQ((Calls{"hide panel", "disarm", "arm"}), host.calls);
  ASSERT_EQ(3u, page.Actions().size());
  EXPECT_EQ("Acme $$password$$", page.Actions()[0].value);
  EXPECT_EQ(PageAction::Kind::Submit, page.Actions()[2].kind);
}

// An error page ends a script as failed; a success string it holds still counts.
TEST_F(StepEngineTest, ScriptEndingOnAnHttpErrorPageFails) {
  page.location = "http://127.0.0.1/done";
  page.source = "Thank you";
  page.statusCode = 404;
  StartSite("[STEP1]\nAPP-ErrorString=not this\n");
  Complete();
  EXPECT_EQ("failed: HTTP 404 on http://127.0.0.1/done", host.calls.back());
  EXPECT_EQ("HTTP 404 on http://127.0.0.1/done", trace.lines.back());
  StartSite("[STEP1]\nAPP-SuccessString=Thank you\n");
  Complete();
  EXPECT_EQ("succeeded", host.calls.back());
  // Only the end of the script looks at the status.
  StartSite("[STEP1]\nAPP-UniqueString=Thank\n[STEP2]\nAPP-GotoLink=x\n");
  Complete();
  EXPECT_EQ("failed: Invalid setting", host.calls.back());
  for (int status : {0, 200, 302, 399}) {
    page.statusCode = status;
    StartSite("");
    Complete();
    EXPECT_EQ("succeeded", host.calls.back()) << status;
  }
  page.statusCode = 503;
  StartSite("");
  Complete();
  EXPECT_EQ("failed: HTTP 503 on http://127.0.0.1/done", host.calls.back());
}

}  // namespace
}  // namespace veltrane
