// The job host in the browser window with its real WebKit view: jobs against
// sites on 127.0.0.1 with the page timer ticking fast and a clock the test
// moves, and the window's off-screen placement.
#include "app/browser_window.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "jobs/job_host.h"
#include "tests/support/main_loop.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/test_database.h"
#include "tests/support/window_events.h"

namespace veltrane::testing {
namespace {

constexpr const char* kPage = "<!DOCTYPE html><html><body>";

// One window (and one web view) for the whole suite.
class BrowserWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("GDK_BACKEND", "x11", 1);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "needs an X display (Xvfb)";
    databases = std::make_unique<TestDatabases>();
    clock = std::make_unique<ManualClock>(45000.5);
    JobHostOptions options;
    options.paths.main = databases->MainPath();
    options.paths.subscription = databases->SubscriptionPath();
    options.timeoutIntervalMs = 50;
    options.shotsDirectory = databases->Directory() + "/shots";
    form2 = std::make_unique<TForm2>();
    host = std::make_unique<JobHost>(form2->Browser(), *form2, errors, trace, *clock, options);
    form2->ShowOffScreen();
  }
  static void TearDownTestSuite() {
    host.reset();
    form2.reset();
    databases.reset();
  }
  void SetUp() override {
    databases->Main(
        "DELETE FROM schedule; DELETE FROM history; DELETE FROM pressrelease;"
        "INSERT INTO pressrelease (name,headline) VALUES ('Launch','News')");
    databases->Subscription("DELETE FROM subscription");
    trace.lines.clear();
  }

  void AddSite(const std::string& name, const std::string& url, const std::string& script) {
    databases->Subscription("INSERT INTO subscription (name,url,submission_data) VALUES ('" + name +
                            "','" + url + "','" + script + "')");
  }
  // Starts a job over `sites` and runs the loop until it has ended.
  void RunJob(const std::string& sites, const std::function<void()>& whileWaiting = {}) {
    databases->Main("INSERT INTO schedule (id,name,subscription) VALUES (1,'Launch','" + sites +
                    "')");
    ASSERT_TRUE(host->StartSubmission(1));
    ASSERT_TRUE(RunMainLoopUntil([&] {
      if (whileWaiting) whileWaiting();
      return !host->Busy();
    })) << "the job did not end";
  }
  const JobState& State() { return host->Job().State(); }

  static inline RecordingMessageBox messages;
  static inline RecordingMessageBox errors;
  static inline RecordingTrace trace;
  static inline std::unique_ptr<TestDatabases> databases;
  static inline std::unique_ptr<ManualClock> clock;
  static inline std::unique_ptr<TForm2> form2;
  static inline std::unique_ptr<JobHost> host;
  RecordingHttpServer server;
};

TEST_F(BrowserWindowTest, StalledFirstPageTimesOutAndTheNextSiteStartsFromTheTimer) {
  server.ServeStalled("/stalled/", "<html><body>Loading for ever");
  server.Serve("/good/", std::string(kPage) + "Welcome, thanks</body></html>");
  AddSite("stalled", server.Url("/stalled/"), "[STEP1]\nAPP-SuccessString=never\n");
  AddSite("good", server.Url("/good/"), "[STEP1]\nAPP-SuccessString=thanks\n");
  RunJob("stalled\r\ngood", [&] {
    // Once the stalled page has been asked for, time runs out for it.
    if (State().site.CurrentSite == "stalled" && !server.RequestsTo("/stalled/").empty())
      clock->Advance(SubmissionJob::kPageDeadline * 2);
  });
  EXPECT_EQ(std::vector<std::string>{"stalled"}, State().outcome.FailedSites());
  EXPECT_EQ(std::vector<std::string>{"Timeout"}, State().outcome.FailedReasons());
  EXPECT_EQ(std::vector<std::string>{"good"}, State().outcome.CompletedSites());
  EXPECT_FALSE(host->TimerTimeoutEnabled());
}

TEST_F(BrowserWindowTest, MediaLinkIsRefusedThenTheSiteTimesOut) {
  server.Serve("/media/", std::string(kPage) + "Gallery</body></html>");
  AddSite("media", server.Url("/media/"),
          "[STEP1]\nAPP-GotoLink=" + server.Url("/picture.JPG?size=2") +
              "\n[STEP2]\nAPP-SuccessString=x\n");
  bool advanced = false;
  RunJob("media", [&] {
    // The refused navigation shows the loading panel; no page comes to hide it.
    if (State().site.StepNumber == 2 && form2->LoadingShown() && !advanced) {
      clock->Advance(SubmissionJob::kPageDeadline * 2);
      advanced = true;
    }
  });
  EXPECT_TRUE(form2->LoadingShown());
  EXPECT_TRUE(server.RequestsTo("/picture.JPG").empty());
  EXPECT_EQ(std::vector<std::string>{"Timeout"}, State().outcome.FailedReasons());
}

TEST_F(BrowserWindowTest, SitesRunInOrderTwiceOverAndASiteWithoutRowsFailsAtOnce) {
  server.Serve("/a/", std::string(kPage) + "ok</body></html>");
  AddSite("a", server.Url("/a/"), "[STEP1]\nAPP-SuccessString=ok\n");
  RunJob("a\r\n\r\na");
  EXPECT_EQ((std::vector<std::string>{"a", "a"}), State().outcome.CompletedSites());
  EXPECT_EQ(std::vector<std::string>{""}, State().outcome.FailedSites());
  EXPECT_EQ(2u, server.RequestsTo("/a/").size());
  EXPECT_EQ("1", databases->MainScalar("SELECT count(*) FROM history"));
}

TEST_F(BrowserWindowTest, StepRulesOnLivePages) {
  const std::string hello = std::string(kPage) +
                            "Hello <a href='/r/one'>1</a> <a href='/r/two'>2"
                            "</a> <a href='/r/one'>1 again</a></body></html>";
  server.Serve("/hello/", hello);
  server.Serve("/fb/members/submit", hello);
  server.Serve("/r/one", std::string(kPage) + "Landed</body></html>");
  AddSite("skip", server.Url("/hello/"),
          "[STEP1]\nAPP-UniqueString=Missing1\nAPP-Skipable=true\n"
          "[STEP2]\nAPP-UniqueString=Missing2\nAPP-Skipable=True\n");
  AddSite("fallback", server.Url("/fb/members/submit"),
          "[STEP1]\nAPP-SearchLinkPattern=members/submit\n[STEP2]\nAPP-SuccessString=Hello\n");
  AddSite("random", server.Url("/hello/"),
          "[STEP1]\nAPP-SearchRandomLinkPattern=one\n[STEP2]\nAPP-SuccessString=Landed\n");
  AddSite("invalid", server.Url("/hello/"),
          "[STEP1]\nAPP-UniqueString=Hello\nAPP-ErrorString=not used\n[STEP2]\nAPP-Note=x\n");
  AddSite("noform", server.Url("/hello/"), "[STEP1]\nAPP-FormPos=4\nAPP-ErrorString=No form\n");
  RunJob("skip\r\nfallback\r\nrandom\r\ninvalid\r\nnoform");
  EXPECT_EQ((std::vector<std::string>{"skip", "fallback", "random"}),
            State().outcome.CompletedSites());
  EXPECT_EQ((std::vector<std::string>{"Invalid setting", "No form"}),
            State().outcome.FailedReasons());
  EXPECT_EQ(1u, server.RequestsTo("/r/one").size());
  EXPECT_TRUE(server.RequestsTo("/r/two").empty());
}

TEST_F(BrowserWindowTest, EmptySiteListFinishesAtOnce) {
  RunJob("");
  EXPECT_TRUE(State().outcome.CompletedSites().empty());
  EXPECT_EQ("Success", databases->MainScalar("SELECT status FROM history"));
}

TEST_F(BrowserWindowTest, ClosingTheWindowOnlySendsItOffScreen) {
  auto left = [] {
    int x = 0, y = 0;
    gtk_window_get_position(form2->Window(), &x, &y);
    return x;
  };
  EXPECT_TRUE(RunMainLoopUntil([&] { return left() == TForm2::kOffScreenLeft; }));
  form2->MoveToLeft(211);  // "View"
  EXPECT_TRUE(RunMainLoopUntil([&] { return left() == 211; }));

  SendCloseRequest(form2->Window());
  EXPECT_TRUE(RunMainLoopUntil([&] { return left() == TForm2::kOffScreenLeft; }));
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(form2->Window())));
}

}  // namespace
}  // namespace veltrane::testing
