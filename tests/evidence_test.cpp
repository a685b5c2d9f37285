// Every site of every job keeps its evidence beside its outcome in db/vt.dat,
// also when it ends by timeout; the history row finds its job's sites; a file
// made before the evidence columns (and the submitting mark) gains them and
// keeps its rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "admin/admin.h"
#include "jobs/submission_job.h"
#include "storage/stores.h"
#include "tests/support/job_rig.h"

namespace veltrane {
namespace {

// The text from `begin` up to `end` (or to the end).
std::string Between(const std::string& text, const std::string& begin, const std::string& end) {
  const std::size_t from = text.find(begin);
  if (from == std::string::npos) return "";
  return text.substr(from, text.find(end, from) - from);
}

// Keeps nothing; lets the next site start at once, as a capture that was written.
struct ImmediateCapture : PageCapture {
  void Capture(const std::string& site, std::function<void()> then) override {
    sites.push_back(site);
    then();
  }
  std::vector<std::string> sites;
};

class EvidenceTest : public ::testing::Test, protected testing::JobRig {
 protected:
  EvidenceTest() {
    databases.Main(
        "INSERT INTO pressrelease (name,headline) VALUES ('Launch','Big news');"
        "INSERT INTO schedule (id,name,subscription,next) VALUES "
        "(1,'Launch','ok\r\nchanged\r\nslow',0)");
    databases.Subscription(
        "INSERT INTO subscription (name,url,submission_data) VALUES "
        "('ok','http://127.0.0.1:1/ok','[STEP1]\nAPP-SuccessString=Thanks\n'),"
        "('changed','http://127.0.0.1:1/c','[STEP1]\nAPP-FormPos=0\nheadline=$$headline$$\n"
        "summary=x\n[STEP2]\nAPP-SuccessString=Thanks\n'),"
        "('slow','http://127.0.0.1:1/s','[STEP1]\nAPP-WaitForRedirect=1\n"
        "[STEP2]\nAPP-SuccessString=Done\n')");
  }

  // Runs veltrane-admin on the test's directory; gives what it printed.
  std::string Admin(std::vector<std::string> args) {
    args.insert(args.begin(), {"--dir", databases.Directory()});
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(0, admin::RunAdmin(args, {in, out, err})) << err.str();
    return out.str();
  }

  ImmediateCapture capture;
  SubmissionJob job{Parts(&capture)};
};

TEST_F(EvidenceTest, EverySiteKeepsItsEvidenceAndTheHistoryRowFindsIt) {
  ASSERT_TRUE(job.StartSubmission(1));
  Page thanks = PageWith("Thanks");
  job.DocumentComplete(thanks);  // ok completes

  Page form = PageWith("<form>");
  FormElement headline;
  headline.kind = ElementKind::Input;
  headline.name = "headline";
  form.forms.emplace_back().elements.push_back(headline);
  job.DocumentComplete(form);  // changed: its form lacks "summary"; filled and sent all the same
  ASSERT_EQ(2u, form.Actions().size());  // the headline written, then the form submitted
  Page refused = PageWith("Closed", 403);
  job.DocumentComplete(refused);
  job.PageSettled(refused, {});  // it stays as it was: changed fails

  Page landing = PageWith("One moment");
  job.DocumentComplete(landing);  // slow waits for a redirect that never comes
  bool cancel = false;            // its next page does not load
  job.NavigateError("http://127.0.0.1:1/s2", -2146697212, "Connection refused", cancel);
  clock.Advance(SubmissionJob::kPageDeadline * 2);
  job.TimerTimeoutTimer();
  ASSERT_FALSE(busy);

  const std::string report = databases.MainScalar("SELECT content FROM history");
  EXPECT_NE(std::string::npos,
            report.find("Failed submission : \r\n - changed (Submission failed (success string "
                        "not found))\r\n - slow (Timeout)\r\n"))
      << report;
  const auto history = MakeHistoryStore(databases.Paths());
  const std::vector<SiteOutcome> sites = history->JobSites(history->List().back().id);
  ASSERT_EQ(3u, sites.size());
  struct Want {
    std::string site;
    bool completed;
    std::string reason;
    int status;
    std::string successText;
    int pages;
    std::string notes;
    std::string networkError;
  };
  const Want wants[] = {
      {"ok", true, "", 200, "Thanks", 1, "", ""},
      {"changed", false, "Submission failed (success string not found)", 403, "Thanks", 2,
       "form changed: missing summary", ""},
      {"slow", false, "Timeout", 200, "Done", 1, "", "Connection refused"},
  };
  for (std::size_t i = 0; i < 3; ++i) {
    const SiteRecord& got = sites[i].record;
    EXPECT_EQ(wants[i].site, got.site);
    EXPECT_EQ(wants[i].completed, got.completed) << got.site;
    EXPECT_EQ(wants[i].reason, got.reason) << got.site;
    EXPECT_EQ(wants[i].status, got.evidence.lastStatus) << got.site;
    EXPECT_EQ(wants[i].successText, got.evidence.successText) << got.site;
    EXPECT_EQ(wants[i].pages, got.evidence.pages) << got.site;
    EXPECT_EQ(wants[i].notes, got.evidence.notes) << got.site;
    EXPECT_EQ(wants[i].networkError, got.evidence.networkError) << got.site;
    EXPECT_EQ("Launch", sites[i].pressRelease);
  }
  // Failed pages were captured, under the name the capture gives them.
  EXPECT_EQ((std::vector<std::string>{"changed", "slow"}), capture.sites);
  EXPECT_EQ("", sites[0].record.evidence.screenshot);
  EXPECT_EQ("20230315-120000-changed.png", sites[1].record.evidence.screenshot);
  EXPECT_EQ("20230315-120600-slow.png", sites[2].record.evidence.screenshot);
  EXPECT_NE(trace.lines.end(), std::find(trace.lines.begin(), trace.lines.end(),
                                         "Form changed: form #0 has no control summary"));

  // history show prints it under the report; site history marks a site that
  // completed before and fails now.
  databases.Main(
      "INSERT INTO job_site (job_id,position,site,status,reason,ended,last_status,pages) "
      "VALUES (0,0,'slow','Completed','',44000.25,200,2)");
  const std::string id = std::to_string(history->List().back().id);
  const std::string shots = databases.Directory() + "/shots/";
  EXPECT_EQ(
      "\nevidence:\n"
      "  ok: completed\n"
      "    last page: http://127.0.0.1:1/ok (HTTP 200), pages loaded: 1\n"
      "    success text: \"Thanks\" found\n"
      "  changed: failed (Submission failed (success string not found))\n"
      "    last page: http://127.0.0.1:1/c (HTTP 403), pages loaded: 2\n"
      "    success text: \"Thanks\" looked for\n"
      "    screenshot: " +
          shots +
          "20230315-120000-changed.png\n"
          "    form changed: missing summary\n"
          "  slow: failed (Timeout)\n"
          "    last page: http://127.0.0.1:1/s (network error: Connection refused), pages "
          "loaded: 1\n"
          "    success text: \"Done\" looked for\n"
          "    screenshot: " +
          shots + "20230315-120600-slow.png\n",
      Between(Admin({"history", "show", id}), "\nevidence:", "\nscreenshots:"));
  const std::string recent = Admin({"site", "history", "slow"});
  EXPECT_EQ("slow: FAILING: failed the last 1 time, completed before that (2020-06-18 06:00:00)",
            recent.substr(0, recent.find('\n')));
  EXPECT_NE(std::string::npos,
            recent.find("  Launch   " + id +
                        "        Failed     200   1      Timeout; network error: Connection "
                        "refused\n"))
      << recent;
}

TEST(EvidenceColumnsTest, AFileMadeBeforeTheEvidenceGainsItsColumnsAndKeepsItsRows) {
  testing::TestDatabases databases;
  // The journal as it shipped first, with a job that ended before the upgrade.
  databases.Main(
      "DROP TABLE job; DROP TABLE job_site;"
      "CREATE TABLE job (id INTEGER PRIMARY KEY, schedule_id INTEGER, name TEXT, "
      "subscription TEXT, queued REAL, started REAL, finished REAL);"
      "CREATE TABLE job_site (job_id INTEGER, schedule_id INTEGER, position INTEGER, site TEXT, "
      "status TEXT, reason TEXT, started REAL, ended REAL, last_url TEXT, "
      "PRIMARY KEY (job_id, position));"
      "INSERT INTO job VALUES (1,7,'Old','a\r\n',NULL,45000,45000.1);"
      "INSERT INTO job VALUES (2,7,'Cut','a\r\n',NULL,45000,NULL);"
      "INSERT INTO job_site VALUES (1,7,0,'a','Failed','Timeout',45000,45000.1,'http://x/');");
  const auto history = MakeHistoryStore(databases.Paths());
  // Read as it is, before anything was written: the evidence reads empty.
  std::vector<SiteOutcome> before = history->SiteOutcomes("a", 5);
  ASSERT_EQ(1u, before.size());
  EXPECT_EQ("Timeout", before[0].record.reason);
  EXPECT_EQ(0, before[0].record.evidence.pages);
  // A job cut short by the old service is read without a submitting mark.
  const std::optional<JournalJob> cut = history->ReadJob(2);
  ASSERT_TRUE(cut);
  EXPECT_FALSE(cut->submitting);

  SiteRecord record;
  record.site = "b";
  record.evidence.pages = 3;
  record.evidence.notes = "form changed: missing x";
  record.evidence.networkError = "Connection refused";
  history->RecordSite(history->StartJob(0, 8, "New", {"b"}, 45001), 8, record);
  EXPECT_EQ("1", databases.MainScalar("SELECT count(*) FROM pragma_table_info('job') WHERE name = "
                                      "'history_id'"));
  EXPECT_EQ("1", databases.MainScalar("SELECT count(*) FROM pragma_table_info('job') WHERE name = "
                                      "'submitting_position'"));
  EXPECT_EQ("Timeout|http://x/", databases.MainScalar("SELECT reason || '|' || last_url FROM "
                                                      "job_site WHERE site = 'a'"));
  EXPECT_EQ("3|form changed: missing x|Connection refused",
            databases.MainScalar("SELECT pages || '|' || notes || '|' || network_error "
                                 "FROM job_site WHERE site = 'b'"));
  EXPECT_EQ("Old", databases.MainScalar("SELECT name FROM job WHERE id = 1"));
}

}  // namespace
}  // namespace veltrane
