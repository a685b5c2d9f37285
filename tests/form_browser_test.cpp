// A submission form on a real web view, filled from a press release in a test
// database and submitted: what the server receives is what the step asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "engine/form_location.h"
#include "engine/site_script.h"
#include "forms/form_filling.h"
#include "forms/form_submission.h"
#include "jobs/job_data.h"
#include "tests/support/browser_harness.h"
#include "tests/support/main_loop.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/test_database.h"

namespace veltrane::testing {
namespace {

using Fields = std::multimap<std::string, std::string>;

// A search banner first, then the submission form the step means.
const char kSubmitPage[] =
    "<!DOCTYPE html><html><head><meta charset='utf-8'><title>Submit</title></head><body>"
    "<form action='/search' method='get'><input name='q'><input type='submit' value='Go'></form>"
    "<form action='/received' method='post'>"
    "<input type='text' name='company'>"
    "<input type='text' name='Email' value='old@example.test'>"
    "<input type='text' name='title'>"
    "<input type='text' name='login'><input type='password' name='pass'>"
    "<textarea name='body'></textarea>"
    "<textarea name='notes'>page text</textarea>"
    "<input type='hidden' name='token' value='abc123'>"
    "<input type='hidden' name='source' value=''>"
    "<select name='country'><option value=''>Choose</option><option value='AT'>Austria</option>"
    "<option value='DE'>Germany</option><option value='US'>United States</option></select>"
    "<select name='category'><option value=''>Choose</option><option value='1'>Arts</option>"
    "<option value='2'>Technology</option><option value='3'>Business</option></select>"
    "<input type='radio' name='type' value='news' checked>"
    "<input type='radio' name='type' value='event'>"
    "<input type='radio' name='type' value='product'>"
    "<input type='checkbox' name='agree' value='yes'>"
    "<input type='checkbox' name='newsletter' checked>"
    "<button type='button' name='help'>Help</button>"
    "<input type='submit' name='action' value='Preview'>"
    "<input type='submit' name='action' value='Send'>"
    "</form></body></html>";

const char kScript[] =
    "[STEP1]\r\n"
    "APP-FormPos=0\r\n"
    "APP-SubmitButtonValue=Send\r\n"
    "company=$$company$$\r\n"
    "email=$$email$$\r\n"
    "title = $$headline$$\r\n"
    "login=$$username$$\r\n"
    "pass=$$password$$\r\n"
    "body=$$news_body$$\r\n"
    "notes=Contact: $$contact_person$$||Phone: $$phone$$\r\n"
    "source=veltrane\r\n"
    "country=$$country\r\n"
    "category=$$category$$\r\n"
    "type=EVENT\r\n"
    "agree=Yes\r\n"
    "newsletter=off\r\n"
    "[STEP2]\r\n"
    "APP-SuccessString=Thank you\r\n";

class FormBrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BrowserHarness::Start(); }
  static void TearDownTestSuite() { BrowserHarness::Stop(); }
  void TearDown() override { BrowserHarness::Browser().SetEvents(nullptr); }

  void SetUp() override {
    databases.Main(
        "INSERT INTO pressrelease (name, contact_data, headline, news_body, category, "
        "release_date, extra_data) VALUES ('Launch', "
        "'company_name=M\xC3\xBCller & S\xC3\xB6hne GmbH\r\nemail=press@mueller.test\r\n"
        "contact_person=J\xC3\xBCrgen Wei\xC3\x9F\r\nphonenumber=+49 221 12 34\r\n"
        "country=Germany', "
        "'Gr\xC3\xBC\xC3\x9F\x65 aus K\xC3\xB6ln \xE2\x80\x94 50% off', "
        "'First line of the news\r\nSecond line, \xE2\x82\xAC 10', 'Arts', 45000, "
        "'other.test=Arts\r\nnews.test= Technology ')");
    databases.Main(
        "INSERT INTO account (name, username, password) "
        "VALUES ('news.test', 'mueller', 'p&ss=w0rd')");
    server.Serve("/submit", kSubmitPage);
    server.Serve("/received", "<html><body>Thank you</body></html>");
    databases.Subscription(
        "INSERT INTO subscription (name, url, submission_data) VALUES "
        "('news.test', '" +
        server.Url("/submit") + "', '" + kScript + "')");
  }

  // Loads the press release and the site as a job does and makes step 1 current.
  JobState LoadJob() {
    JobDataLoader loader({databases.MainPath(), databases.SubscriptionPath(), ""}, trace);
    JobState state;
    EXPECT_TRUE(loader.LoadPressRelease(state, "Launch"));
    EXPECT_TRUE(loader.LoadSite(state, "news.test").Loaded());
    state.site.CurrentSite = "news.test";
    LoadStep(state, SiteSteps(state.site.SiteScript), 1);
    return state;
  }

  // Fills and submits the form of the script's step 1 when the submission page
  // completes, then waits until the browser has posted it; gives the fields the
  // server received.
  Fields SubmitOnPage(const JobState& state) {
    const SiteSteps steps(state.site.SiteScript);
    const ScriptStep& step = steps.Step(1);
    const std::size_t postsBefore = server.RequestsTo("/received").size();
    events.pages.clear();
    events.onDocumentComplete = [&](Page& page) {
      if (page.location != state.site.SiteUrl) return;
      const int position = LocateForm(page, step.directives.formPosition, step.fields, trace);
      if (!GetForm(page, position)) return;
      FillForm(page, position, state.release, state.site, trace);
      SubmitForm(page, position, step.directives.buttonValue);
    };
    BrowserHarness::Browser().SetEvents(&events);
    BrowserHarness::Browser().Navigate(state.site.SiteUrl);
    const bool posted =
        RunMainLoopUntil([&] { return server.RequestsTo("/received").size() > postsBefore; });
    if (!posted) {
      events.onDocumentComplete = nullptr;
      ADD_FAILURE() << "nothing was posted";
      return {};
    }
    // Let the answer page arrive too, so no later load is mistaken for this one's.
    RunMainLoopUntil([&] { return events.PageAt(server.Url("/received")) >= 0; });
    events.onDocumentComplete = nullptr;
    const std::vector<RecordedRequest> requests = server.RequestsTo("/received");
    EXPECT_EQ(postsBefore + 1, requests.size());
    EXPECT_EQ("POST", requests.back().method);
    EXPECT_TRUE(server.RequestsTo("/search").empty());
    return requests.back().params;
  }

  TestDatabases databases;
  RecordingTrace trace;
  RecordingHttpServer server;
  RecordingBrowserEvents events;
};

TEST_F(FormBrowserTest, ServerReceivesThePressReleaseAsTheStepAskedForIt) {
  const JobState state = LoadJob();
  ASSERT_EQ(server.Url("/submit"), state.site.SiteUrl);

  const Fields received = SubmitOnPage(state);

  const Fields expected = {
      {"company", "M\xC3\xBCller & S\xC3\xB6hne GmbH"},
      {"Email", "press@mueller.test"},
      {"title", "Gr\xC3\xBC\xC3\x9F\x65 aus K\xC3\xB6ln \xE2\x80\x94 50% off"},
      {"login", "mueller"},
      {"pass", "p&ss=w0rd"},
      {"body", "First line of the news\r\nSecond line, \xE2\x82\xAC 10"},
      {"notes", "Contact: J\xC3\xBCrgen Wei\xC3\x9F\r\nPhone: +49 221 12 34"},
      {"token", "abc123"},
      {"source", "veltrane"},
      {"country", "DE"},
      {"category", "2"},
      {"type", "event"},
      {"agree", "yes"},
      {"newsletter", "on"},
      {"action", "Send"},
  };
  EXPECT_EQ(expected, received);
  EXPECT_NE(trace.lines.end(),
            std::find(trace.lines.begin(), trace.lines.end(), "Found the correct formpos : 1"));
}

TEST_F(FormBrowserTest, ButtonValueChoosesTheClickedButtonOrADirectSubmit) {
  // A direct submit sends no button at all; a click sends the clicked one.
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {"Preview"}},
      {"Send", {"Send"}},
      {"send", {}},
  };
  for (const auto& [buttonValue, actions] : cases) {
    JobState state = LoadJob();
    state.site.SiteScript =
        "[STEP1]\nAPP-FormPos=1\nAPP-SubmitButtonValue=" + buttonValue + "\ntitle=x";
    LoadStep(state, SiteSteps(state.site.SiteScript), 1);
    const Fields received = SubmitOnPage(state);
    std::vector<std::string> sent;
    for (auto [it, end] = received.equal_range("action"); it != end; ++it)
      sent.push_back(it->second);
    EXPECT_EQ(actions, sent) << "button value \"" << buttonValue << "\"";
    EXPECT_EQ(1u, received.count("title")) << buttonValue;
  }
}

}  // namespace
}  // namespace veltrane::testing
