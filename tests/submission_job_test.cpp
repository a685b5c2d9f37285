// The job's walk over its sites, its deadline and its end, with a browser
// that only records where it was sent.
#include "jobs/submission_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "jobs/redacting_trace.h"
#include "tests/support/job_rig.h"
#include "tests/support/main_loop.h"

namespace veltrane {
namespace {

class SubmissionJobTest : public ::testing::Test, protected testing::JobRig {
 protected:
  SubmissionJobTest() {
    databases.Main(
        "INSERT INTO pressrelease (name,headline) VALUES ('Launch','Big news');"
        "INSERT INTO account (name,username,password) VALUES ('alpha','al','pw')");
    databases.Subscription(
        "INSERT INTO subscription (name,url,submission_data) VALUES "
        "('alpha','http://127.0.0.1:1/a','[STEP1]\nAPP-SuccessString=Thanks\n'),"
        "('beta','http://127.0.0.1:1/b','[STEP1]\nAPP-WaitForRedirect=1\n[STEP2]\n"
        "APP-SuccessString=Done\n')");
  }
  void Schedule(const std::string& sites) {
    databases.Main("INSERT INTO schedule (id,name,subscription,next) VALUES (1,'Launch','" + sites +
                   "',0)");
  }
  // A job of its own (as after a restart), with the failed-page capture given.
  std::unique_ptr<SubmissionJob> NewJob(PageCapture* capture = nullptr) {
    return std::make_unique<SubmissionJob>(Parts(capture, [this](bool on) { timerEnabled = on; }));
  }
  int HistoryRows() const {
    return std::stoi(databases.MainScalar("SELECT count(*) FROM history"));
  }

  bool timerEnabled = false;
  std::unique_ptr<SubmissionJob> ownJob = NewJob();
  SubmissionJob& job = *ownJob;
};

TEST_F(SubmissionJobTest, ScheduleWithoutSitesFinishesInsideTheStart) {
  Schedule("");
  EXPECT_TRUE(job.StartSubmission(1));
  EXPECT_FALSE(busy);
  EXPECT_FALSE(job.State().JobRunning);
  EXPECT_EQ(1, HistoryRows());
  EXPECT_EQ("Success", databases.MainScalar("SELECT status FROM history"));
  EXPECT_TRUE(browser.navigations.empty());
  EXPECT_EQ("Submission completed", trace.lines.back());
}

TEST_F(SubmissionJobTest, MissingScheduleOrPressReleaseDoesNotStart) {
  EXPECT_FALSE(job.StartSubmission(42));
  EXPECT_FALSE(busy);
  databases.Main("INSERT INTO schedule (id,name,subscription) VALUES (2,'Nope','alpha')");
  EXPECT_FALSE(job.StartSubmission(2));
  EXPECT_FALSE(busy);
  EXPECT_EQ(0, HistoryRows());
  EXPECT_EQ("Submission started for ID : 2", trace.lines[2]);
}

TEST_F(SubmissionJobTest, SitesRunInOrderAndEachEndStartsTheNextInsideTheHandler) {
  Schedule("alpha\r\nalpha\r\nbeta");
  ASSERT_TRUE(job.StartSubmission(1));
  EXPECT_TRUE(busy);
  EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1:1/a"}, browser.navigations);
  EXPECT_TRUE(timerEnabled);
  EXPECT_EQ("al", job.State().site.login.UserName);

  Page thanks = PageWith("Thanks!");
  job.DocumentComplete(thanks);  // alpha succeeds; the second alpha starts at once
  EXPECT_EQ(2u, browser.navigations.size());
  Page nothing = PageWith("Sorry");
  job.DocumentComplete(nothing);
  job.PageSettled(nothing, {});  // it stays as it was: the second alpha fails; beta starts
  EXPECT_EQ("http://127.0.0.1:1/b", browser.navigations.back());
  EXPECT_EQ("", job.State().site.login.UserName);  // beta has no account: never alpha's login

  Page landing = PageWith("redirecting");
  job.DocumentComplete(landing);  // beta waits for its redirect
  Page done = PageWith("Done");
  job.DocumentComplete(done);
  EXPECT_FALSE(busy);
  EXPECT_EQ((std::vector<std::string>{"alpha", "beta"}), job.State().outcome.CompletedSites());
  EXPECT_EQ(std::vector<std::string>{"alpha"}, job.State().outcome.FailedSites());
  EXPECT_EQ("Partial", databases.MainScalar("SELECT status FROM history"));
  EXPECT_EQ("alpha,beta,alpha", databases.MainScalar("SELECT subscription FROM history"));
}

TEST_F(SubmissionJobTest, SiteWithoutSubscriptionRowFailsAtOnceWithoutNavigating) {
  Schedule("ghost\r\nalpha");
  ASSERT_TRUE(job.StartSubmission(1));
  EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1:1/a"}, browser.navigations);
  EXPECT_EQ(std::vector<std::string>{"ghost"}, job.State().outcome.FailedSites());
  EXPECT_EQ(std::vector<std::string>{"Cant find info for subscription 'ghost'"},
            job.State().outcome.FailedReasons());
}

// A store error is not a missing row: the site waits for the store, and runs
// once it answers; a store still failing at the page deadline fails the site
// with the store's error.
TEST_F(SubmissionJobTest, AStoreErrorWhileLoadingASiteWaitsForTheStoreWithinThePageDeadline) {
  Schedule("alpha\r\nbeta");
  databases.Subscription("ALTER TABLE subscription RENAME TO away");
  ASSERT_TRUE(job.StartSubmission(1));
  EXPECT_TRUE(browser.navigations.empty());
  databases.Subscription("ALTER TABLE away RENAME TO subscription");
  ASSERT_TRUE(testing::RunMainLoopUntil([&] { return !browser.navigations.empty(); }));
  EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1:1/a"}, browser.navigations);
  EXPECT_TRUE(job.State().outcome.Sites.empty());
  EXPECT_EQ(1, std::count(trace.lines.begin(), trace.lines.end(),
                          "Waiting for the database to load site alpha"));

  databases.Subscription("ALTER TABLE subscription RENAME TO away");
  Page thanks = PageWith("Thanks");
  job.DocumentComplete(thanks);  // alpha succeeds; beta waits for the store
  EXPECT_TRUE(busy);
  clock.Advance(SubmissionJob::kPageDeadline + 1e-6);
  ASSERT_TRUE(testing::RunMainLoopUntil([&] { return !busy; }));
  EXPECT_EQ(std::vector<std::string>{"alpha"}, job.State().outcome.CompletedSites());
  EXPECT_EQ(std::vector<std::string>{"beta"}, job.State().outcome.FailedSites());
  EXPECT_EQ(std::vector<std::string>{"SQLITE_ERROR[1]: no such table: subscription"},
            job.State().outcome.FailedReasons());
  EXPECT_EQ(1u, browser.navigations.size());
}

TEST_F(SubmissionJobTest, TimeoutEndsTheSiteOnlyOnceTheDeadlineHasPassed) {
  Schedule("alpha\r\nbeta");
  ASSERT_TRUE(job.StartSubmission(1));
  clock.Advance(-1.0);  // the clock was set back: the tick finds the deadline ahead
  job.TimerTimeoutTimer();
  EXPECT_TRUE(job.State().outcome.FailedSites().empty());
  EXPECT_TRUE(timerEnabled);

  clock.Advance(1.0 + SubmissionJob::kPageDeadline + 1e-6);
  job.TimerTimeoutTimer();
  EXPECT_EQ(std::vector<std::string>{"Timeout"}, job.State().outcome.FailedReasons());
  EXPECT_EQ("http://127.0.0.1:1/b", browser.navigations.back());  // next site started
  EXPECT_TRUE(timerEnabled);                                      // armed for beta
}

TEST_F(SubmissionJobTest, RedirectThatNeverComesTimesOutAndALatePageWritesNoSecondReport) {
  Schedule("beta");
  ASSERT_TRUE(job.StartSubmission(1));
  Page landing = PageWith("redirecting");
  job.DocumentComplete(landing);
  EXPECT_TRUE(job.State().AwaitRedirect);
  EXPECT_TRUE(timerEnabled);  // the wait for a redirect is bounded too

  clock.Advance(SubmissionJob::kPageDeadline * 2);
  job.TimerTimeoutTimer();
  EXPECT_FALSE(busy);
  EXPECT_EQ(1, HistoryRows());

  Page late = PageWith("Done");
  job.DocumentComplete(late);
  EXPECT_EQ(1, HistoryRows());
  EXPECT_FALSE(panel2.shown);
}

TEST_F(SubmissionJobTest, GuardsRefuseMediaAndPopUpsAndTraceErrors) {
  bool cancel = false;
  job.BeforeNavigate2("http://127.0.0.1/a?img=X.GIF", cancel);
  EXPECT_TRUE(cancel);
  EXPECT_TRUE(panel2.shown);
  cancel = false;
  job.NewWindow2("http://127.0.0.1/pop", cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ("New window refused: http://127.0.0.1/pop", trace.lines.back());
  cancel = true;
  job.NavigateError("http://127.0.0.1:1/", -2146697211, "", cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ("Error while navigate http://127.0.0.1:1/ code:-2146697211", trace.lines.back());
}

TEST_F(SubmissionJobTest, ScriptWithoutStepsFailsAtOnceInsteadOfSucceeding) {
  databases.Subscription(
      "INSERT INTO subscription (name,url,submission_data) VALUES "
      "('empty','http://127.0.0.1:1/e',''),('commented','http://127.0.0.1:1/c',"
      "'[STEP1] ; login\nAPP-SuccessString=x\n')");
  Schedule("empty\r\ncommented");
  ASSERT_TRUE(job.StartSubmission(1));
  EXPECT_TRUE(browser.navigations.empty());
  EXPECT_TRUE(job.State().outcome.CompletedSites().empty());
  EXPECT_EQ((std::vector<std::string>{"Site script has no steps", "Site script has no steps"}),
            job.State().outcome.FailedReasons());
  EXPECT_EQ("Failed", databases.MainScalar("SELECT status FROM history"));
}

TEST_F(SubmissionJobTest, ScriptWithANulByteFailsInsteadOfLosingItsLaterSteps) {
  // Cut at the NUL, the script would end after its link: a success without a check.
  databases.Subscription(
      "INSERT INTO subscription (name,url,submission_data) VALUES ('nul','http://127.0.0.1:1/n',"
      "'[STEP1]' || char(10) || 'APP-GotoLink=http://127.0.0.1:1/x' || char(0) || char(10) || "
      "'[STEP2]' || char(10) || 'APP-SuccessString=Thanks' || char(10))");
  Schedule("nul");
  ASSERT_TRUE(job.StartSubmission(1));
  EXPECT_TRUE(browser.navigations.empty());
  EXPECT_EQ(std::vector<std::string>{"Site script contains a NUL byte"},
            job.State().outcome.FailedReasons());
}

TEST_F(SubmissionJobTest, SiteEndsOnceWhenItsPageArrivesWhileTheTimeoutScreenshotIsTaken) {
  // Keeps the capture pending until the test ends it.
  struct PendingCapture : PageCapture {
    void Capture(const std::string&, std::function<void()> then) override { captured = then; }
    std::function<void()> captured;
  } capture;
  std::function<void()>& captured = capture.captured;
  auto racing = NewJob(&capture);
  Schedule("beta\r\nalpha");
  ASSERT_TRUE(racing->StartSubmission(1));
  Page landing = PageWith("redirecting");
  racing->DocumentComplete(landing);  // beta waits for its redirect
  clock.Advance(SubmissionJob::kPageDeadline * 2);
  racing->TimerTimeoutTimer();  // beta times out; its screenshot is being taken
  ASSERT_TRUE(captured);

  Page late = PageWith("Done");
  racing->DocumentComplete(late);  // the redirect, too late: beta has ended
  racing->TimerTimeoutTimer();
  EXPECT_EQ(std::vector<std::string>{"Timeout"}, racing->State().outcome.FailedReasons());
  EXPECT_TRUE(racing->State().outcome.CompletedSites().empty());
  EXPECT_EQ(1u, browser.navigations.size());  // alpha waits for the screenshot

  captured();  // the screenshot is saved: alpha starts, once
  EXPECT_EQ("http://127.0.0.1:1/a", browser.navigations.back());
  Page thanks = PageWith("Thanks");
  racing->DocumentComplete(thanks);
  captured();  // a second call of a finished capture changes nothing
  EXPECT_EQ(2u, browser.navigations.size());
  EXPECT_EQ(std::vector<std::string>{"alpha"}, racing->State().outcome.CompletedSites());
  EXPECT_EQ(1, HistoryRows());
}

TEST_F(SubmissionJobTest, JobCutShortIsFinishedAfterARestartWithoutRunningEndedSitesAgain) {
  Schedule("alpha\r\nbeta\r\nalpha");
  {
    auto first = NewJob();
    ASSERT_TRUE(first->StartSubmission(1));
    Page thanks = PageWith("Thanks");
    first->DocumentComplete(thanks);  // alpha ends; beta starts
    EXPECT_EQ("Completed|http://127.0.0.1:1/a",
              databases.MainScalar("SELECT status || '|' || last_url FROM job_site"));
  }  // the process dies while beta runs: no history row
  EXPECT_EQ(0, HistoryRows());
  browser.navigations.clear();

  auto second = NewJob();
  ASSERT_TRUE(second->ResumeSubmission());
  EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1:1/b"}, browser.navigations);
  clock.Advance(SubmissionJob::kPageDeadline * 2);
  second->TimerTimeoutTimer();  // beta times out; the last alpha runs
  Page thanks = PageWith("Thanks");
  second->DocumentComplete(thanks);
  EXPECT_FALSE(busy);
  EXPECT_EQ(2u, browser.navigations.size());
  EXPECT_FALSE(second->ResumeSubmission());  // nothing else was left

  ASSERT_EQ(1, HistoryRows());
  EXPECT_EQ("alpha,alpha,beta", databases.MainScalar("SELECT subscription FROM history"));
  const std::string report = databases.MainScalar("SELECT content FROM history");
  EXPECT_NE(std::string::npos, report.find(" - alpha\r\n - alpha\r\n\r\nFailed submission : "
                                           "\r\n - beta (Timeout)\r\n\r\nInterrupted and "
                                           "resumed\r\n"))
      << report;
  EXPECT_EQ("0", databases.MainScalar("SELECT count(*) FROM job WHERE finished IS NULL"));
  EXPECT_EQ("3", databases.MainScalar("SELECT count(*) FROM job_site"));
  EXPECT_FALSE(NewJob()->ResumeSubmission());
}

TEST_F(SubmissionJobTest, JobQueuedButNeverStartedRunsAfterARestart) {
  Schedule("alpha");
  // Queued by the schedule thread of a run that ended before taking it.
  databases.Main("INSERT INTO job (schedule_id,queued) VALUES (1,45000)");
  auto restarted = NewJob();
  ASSERT_TRUE(restarted->ResumeSubmission());
  EXPECT_EQ(std::vector<std::string>{"http://127.0.0.1:1/a"}, browser.navigations);
  EXPECT_EQ("1|Launch", databases.MainScalar("SELECT id || '|' || name FROM job"));
}

// A step that fails on what its page lacks watches the page: a page that
// comes meanwhile, or the same page changed in place, is judged by the same
// step; a page that did nothing fails as it stood.
TEST_F(SubmissionJobTest, AFailureOnWhatThePageLacksWaitsForThePageToMoveOn) {
  Schedule("alpha\r\nalpha\r\nalpha");
  ASSERT_TRUE(job.StartSubmission(1));
  Page sorry = PageWith("Sorry");
  Page thanks = PageWith("Thanks!");
  job.DocumentComplete(sorry);
  EXPECT_EQ(std::vector{SubmissionJob::kSettleTime}, browser.watches);
  EXPECT_TRUE(job.State().outcome.FailedSites().empty());
  job.DocumentComplete(thanks);
  job.PageSettled(sorry, {});  // too late to change anything
  EXPECT_EQ(std::vector<std::string>{"alpha"}, job.State().outcome.CompletedSites());
  EXPECT_TRUE(job.State().outcome.FailedSites().empty());

  job.DocumentComplete(sorry);
  job.PageSettled(thanks, PageChange{false, true});
  EXPECT_EQ(1, std::count(trace.lines.begin(), trace.lines.end(),
                          "Page updated in place : " + browser.LocationURL()));
  EXPECT_EQ(2u, job.State().outcome.CompletedSites().size());

  // Changed, but still without the text: judged once more, then failed.
  job.DocumentComplete(sorry);
  job.PageSettled(sorry, PageChange{true, false});
  EXPECT_EQ(std::vector<std::string>{"Submission failed (success string not found)"},
            job.State().outcome.FailedReasons());
  EXPECT_EQ(3u, browser.watches.size());
}

TEST(RedactingTraceTest, PasswordIsHiddenRawAndEncodedInOutsideTextOnly) {
  RecordingTrace out;
  RedactingTrace trace(out);
  trace.SetSecret("p@ss w/rd~");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"login p@ss w/rd~ sent", "login *** sent"},
      {"http://a.test/?u=al&pw=p%40ss+w%2Frd%7E", "http://a.test/?u=al&pw=***"},  // GET form
      {"http://a.test/x/p%40ss%20w%2Frd~", "http://a.test/x/***"},
      {"http://a.test/p@ss%20w/rd~?again=p%40ss+w%2frd%7e", "http://a.test/***?again=***"},
      {"p@ss w/rd", "p@ss w/rd"},  // a part of it is not the password
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(want, trace.Outside(text)) << text;
  trace.TraceLine("The service's own line p@ss w/rd~");
  EXPECT_EQ("The service's own line p@ss w/rd~", out.lines.back());

  // A page in a legacy encoding sends it in that encoding; what the encoding
  // lacks goes as a character reference.
  trace.SetSecret("P\xC3\xA4\xE2\x82\xAC\xC5\x82 1");
  const std::string sent = "http://a.test/?pw=P%E4%80%26%23322%3B+1";
  EXPECT_EQ(sent, trace.Outside(sent));
  trace.NoteCharacterSet("windows-1252");
  EXPECT_EQ("http://a.test/?pw=***", trace.Outside(sent));
  EXPECT_EQ("***", trace.Outside("P\xE4\x80&#322; 1"));
  trace.SetSecret("");
  EXPECT_EQ("p@ss w/rd~", trace.Outside("p@ss w/rd~"));
}

// Spelled as browsers and pages spell it: in another letter case (a host
// name), as encodeURIComponent leaves it, with a "%" left raw in an address.
TEST(RedactingTraceTest, PasswordIsHiddenInAnyCaseAndAnyDecodingOfTheText) {
  RecordingTrace out;
  RedactingTrace trace(out);
  const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
      {"HostPWQ7", "hostpwq7.localhost", "***.localhost"},
      {"Ab/cd!9z", "http://a.test/?k=Ab%2Fcd!9z&n=1", "http://a.test/?k=***&n=1"},
      {"Ab/cd!9z", "http://a.test/?next=%2F%3Fk%3DAb%252Fcd%25219z",
       "http://a.test/?next=%2F%3Fk%3D***"},
      {"50% of|it", "http://a.test/?k=50%%20of|it", "http://a.test/?k=***"},
      {"50% of|it", "http://a.test/?k=50%25+OF%7cit", "http://a.test/?k=***"},
      {"50% of|it", "50% of", "50% of"},
  };
  for (const auto& [secret, text, want] : cases) {
    trace.SetSecret(secret, "[STEP1]\npass=$$password$$\n");
    EXPECT_EQ(want, trace.Outside(text)) << secret << " in " << text;
  }
}

// A password that is also a word of the script or of the service's own
// texts would show beside the stars: the outside text is withheld whole.
TEST(RedactingTraceTest, OutsideTextIsWithheldWhenThePasswordIsAWordAReaderKnows) {
  RecordingTrace out;
  RedactingTrace trace(out);
  const std::string script = "[STEP1]\npass=$$password$$\n[STEP2]\nAPP-SuccessString=Thank you\n";
  const std::string withheld = RedactingTrace::kWithheld;
  EXPECT_EQ("(hidden: it holds the login)", withheld);
  trace.SetSecret("Thank", script);
  EXPECT_EQ(withheld, trace.Outside("Thank you"));
  EXPECT_EQ(withheld, trace.Outside("http://a.test/?p=THANK"));
  EXPECT_EQ("http://a.test/welcome", trace.Outside("http://a.test/welcome"));
  trace.SetSecret("refused", script);  // a word of "Navigation refused: "
  EXPECT_EQ(withheld, trace.Outside("http://a.test/refused"));
  trace.SetSecret("Thank", "[STEP1]\npass=$$password$$\n");
  EXPECT_EQ("*** you", trace.Outside("Thank you"));
}

TEST_F(SubmissionJobTest, PasswordIsHiddenInWhatPagesSayNotInTheServicesOwnTexts) {
  databases.Main("UPDATE account SET password = 's' WHERE name = 'alpha'");
  Schedule("alpha");
  ASSERT_TRUE(job.StartSubmission(1));
  Page answer = PageWith("Sorry");
  answer.location = "http://127.0.0.1:1/a?user=al&pass=s";
  job.DocumentComplete(answer);
  job.PageSettled(answer, {});
  EXPECT_EQ(std::vector<std::string>{"Submission failed (success string not found)"},
            job.State().outcome.FailedReasons());
  // "s" is in the script and in the service's words: the address is withheld whole.
  for (const std::string want :
       {"Document complete . Current page is : (hidden: it holds the login)",
        "Success string not found [site: alpha]", "Submission completed"})
    EXPECT_NE(trace.lines.end(), std::find(trace.lines.begin(), trace.lines.end(), want)) << want;
  EXPECT_NE(std::string::npos, databases.MainScalar("SELECT content FROM history")
                                   .find("Submission failed (success string not found)"));
}

}  // namespace
}  // namespace veltrane
