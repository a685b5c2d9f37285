// The built veltrane-admin's site try against a site served on 127.0.0.1, on
// the database files and on a PostgreSQL server: a trial stops before the
// release is sent unless given --submit, and one that sends it is recorded
// among the site's outcomes, never as a job. The built service started
// afterwards neither resumes it nor writes history for it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "storage/postgres/pg_database.h"
#include "tests/support/postgres_server.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_database.h"

namespace veltrane::testing {
namespace {

constexpr const char* kPage = "<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>";

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// The words of each line of a table after the first whose line starts with `first`.
std::vector<std::string> RowWords(const std::string& table, const std::string& first) {
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.starts_with(first)) continue;
    std::istringstream words(line);
    return std::vector<std::string>(std::istream_iterator<std::string>(words), {});
  }
  return {};
}

class SiteTrialRecordTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    // Login, a link to the release form, the form, the answer.
    web.Serve("/d/", std::string(kPage) +
                         "<form action='/d/login' method='post'><input name='user'>"
                         "<input type='password' name='pass'><input type='submit' value='In'>"
                         "</form></body></html>");
    web.Serve("/d/login", std::string(kPage) + "<a href='/d/submit-news'>Submit</a></body></html>");
    web.Serve("/d/submit-news", std::string(kPage) +
                                    "<form action='/d/post' method='post'><input name='headline'>"
                                    "<input type='submit' value='Publish'></form></body></html>");
    web.Serve("/d/post", std::string(kPage) + "<p>Thank you</p></body></html>");
    web.Serve("/other/", std::string(kPage) + "<p>Ready</p></body></html>");
    databases.Main(
        "INSERT INTO pressrelease (name,headline) VALUES ('Launch','Acme ships');"
        "INSERT INTO account (name,username,password) VALUES ('Daily','acme','s3cret');"
        // A store made before trials were recorded.
        "ALTER TABLE job DROP COLUMN trial");
    databases.Subscription(
        "INSERT INTO subscription (name,url,submission_data) VALUES ('Daily','" + web.Url("/d/") +
        "','[STEP1]\nAPP-FormPos=0\nuser=$$username$$\npass=$$password$$\n"
        "[STEP2]\nAPP-SearchLinkPattern=submit-news\n"
        "[STEP3]\nAPP-FormPos=0\nheadline=$$headline$$\n[STEP4]\nAPP-SuccessString=Thank you\n'),"
        "('Other','" +
        web.Url("/other/") + "','[STEP1]\nAPP-SuccessString=Ready\n')");
    if (OnServer()) {
      postgres = std::make_unique<PostgresServer>();
      ASSERT_TRUE(postgres->Running()) << postgres->Error();
      url = postgres->CreateDatabase("veltrane");
      ASSERT_EQ(0, Admin("copy --to '" + url + "'").code);
      PgDatabase(url).Execute("ALTER TABLE job DROP COLUMN trial");
      std::ofstream(databases.Directory() + "/veltrane.conf") << "database_url = " << url << "\n";
    }
  }

  bool OnServer() const { return GetParam(); }

  // "veltrane-admin --dir DIR <arguments>" (arguments hold no quotes of their own).
  Result Admin(const std::string& arguments) {
    const std::string dir = databases.Directory();
    const std::string command = std::string(VELTRANE_ADMIN_EXECUTABLE) + " --dir " + dir + " " +
                                arguments + " >" + dir + "/out.txt 2>" + dir +
                                "/err.txt </dev/null";
    const int status = std::system(command.c_str());
    Result result;
    if (WIFEXITED(status)) result.code = WEXITSTATUS(status);
    result.out = FileBytes(dir + "/out.txt");
    result.err = FileBytes(dir + "/err.txt");
    return result;
  }

  Result Try(const std::string& options) {
    return Admin("site try Daily --release Launch --shots " + databases.Directory() + "/shots-" +
                 std::to_string(++tries) + " " + options);
  }

  // The first column of the first row, as text; "" for NULL.
  std::string Scalar(const std::string& sql) {
    if (!OnServer()) return databases.MainScalar(sql);
    const PgResult rows = PgDatabase(url).Execute(sql);
    return rows.Rows() == 0 ? "" : rows.Text(0, 0);
  }
  void Execute(const std::string& sql) {
    if (OnServer())
      PgDatabase(url).Execute(sql);
    else
      databases.Main(sql);
  }

  std::size_t Posts() { return web.RequestsTo("/d/post").size(); }

  RecordingHttpServer web;
  TestDatabases databases;
  std::unique_ptr<PostgresServer> postgres;
  std::string url;
  int tries = 0;
};

TEST_P(SiteTrialRecordTest, OnlySubmitSendsTheReleaseAndItsTrialIsRecordedButNeverAJob) {
  for (const std::string options : {"", "--no-submit"}) {
    const Result held = Try(options);
    EXPECT_EQ(0, held.code) << options << "\n" << held.err << held.out;
    EXPECT_NE(std::string::npos, held.out.find("result: stopped before sending form #0"))
        << options << "\n"
        << held.out;
    EXPECT_EQ(0u, Posts()) << options;
  }
  EXPECT_EQ(2u, web.RequestsTo("/d/submit-news").size());  // the login went through each time
  EXPECT_EQ(2, Try("--submit --no-submit").code);
  EXPECT_EQ(0u, Posts());
  EXPECT_EQ("0", Scalar("SELECT count(*) FROM job"));
  EXPECT_EQ("0", Scalar("SELECT count(*) FROM job_site"));
  EXPECT_EQ("Daily: no outcomes recorded\n", Admin("site history Daily").out);

  const Result sent = Try("--submit");
  ASSERT_EQ(0, sent.code) << sent.err << sent.out;
  EXPECT_EQ(1u, Posts());
  EXPECT_NE(std::string::npos, sent.out.find("recorded: as a trial among the site's outcomes"))
      << sent.out;
  // Its evidence, under a job marked trial that is finished and has no history row.
  EXPECT_EQ("1", Scalar("SELECT count(*) FROM job WHERE trial = 1 AND finished IS NOT NULL "
                        "AND history_id IS NULL AND schedule_id IS NULL AND name = 'Launch'"));
  EXPECT_EQ("Completed", Scalar("SELECT status FROM job_site WHERE site = 'Daily'"));
  EXPECT_EQ(web.Url("/d/post"), Scalar("SELECT last_url FROM job_site"));
  EXPECT_EQ("200", Scalar("SELECT last_status FROM job_site"));
  EXPECT_EQ("4", Scalar("SELECT pages FROM job_site"));
  EXPECT_EQ("Thank you", Scalar("SELECT success_text FROM job_site"));
  const std::string screenshot = Scalar("SELECT screenshot FROM job_site");
  EXPECT_TRUE(screenshot.ends_with("/shots-4/page-04.png")) << screenshot;
  EXPECT_TRUE(std::filesystem::exists(screenshot)) << screenshot;
  EXPECT_EQ("0", Scalar("SELECT count(*) FROM history"));

  const Result history = Admin("site history Daily");
  ASSERT_EQ(0, history.code) << history.err;
  EXPECT_NE(std::string::npos, history.out.find("Daily: completed last time\n")) << history.out;
  // ENDED (a date and a time), RELEASE, HISTORY, STATUS, HTTP, PAGES.
  const std::vector<std::string> row = RowWords(history.out, "20");
  ASSERT_EQ(7u, row.size()) << history.out;
  EXPECT_EQ((std::vector<std::string>{"Launch", "trial", "Completed", "200", "4"}),
            std::vector<std::string>(row.begin() + 2, row.end()))
      << history.out;

  // The service started now takes up a due schedule of another site first
  // thing; had it found the trial unfinished, it would have resumed that before.
  Execute(
      "INSERT INTO schedule (id,name,subscription,frequency,time,next) "
      "VALUES (1,'Launch','Other',1,0.25,1)");
  ServiceProcess service(VELTRANE_BINARY, databases.Directory());
  service.Start({{"VELTRANE_POLL_INTERVAL_MS", "300"}});
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (Scalar("SELECT count(*) FROM history") == "0" && std::chrono::steady_clock::now() < end &&
         service.Running())
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ("1", Scalar("SELECT count(*) FROM history")) << service.ErrorLog();
  service.Kill();
  EXPECT_EQ("Other", Scalar("SELECT subscription FROM history"));
  EXPECT_EQ(1u, Posts());
  EXPECT_EQ("1", Scalar("SELECT count(*) FROM job_site WHERE site = 'Daily'"));
  EXPECT_EQ("0", Scalar("SELECT count(*) FROM job WHERE finished IS NULL"));
}

INSTANTIATE_TEST_SUITE_P(Stores, SiteTrialRecordTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "PostgreSQL" : "Files";
                         });

}  // namespace
}  // namespace veltrane::testing
