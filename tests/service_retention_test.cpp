// The built service with veltrane-admin beside it, on the SQLite files and on
// a throw-away PostgreSQL server (when the build has PostgreSQL support):
// while a job runs, nothing it uses can be removed, and afterwards it can;
// a disabled schedule is left alone however due, and runs once enabled; and
// with history_keep_days in veltrane.conf the service prunes the old history,
// its journal rows and its screenshots by itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "admin/admin.h"
#include "tests/support/fault_harness.h"
#ifdef VELTRANE_WITH_POSTGRES
#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_stores.h"
#include "tests/support/postgres_server.h"
#endif

namespace veltrane::testing {
namespace {

enum class Backend { Files, Server };

class ServiceRetentionTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    std::string conf = "history_keep_days = 30\n";
    if (GetParam() == Backend::Server) {
#ifdef VELTRANE_WITH_POSTGRES
      static PostgresServer server;  // one for the whole program: initdb is slow
      ASSERT_TRUE(server.Running()) << server.Error();
      static int databases = 0;
      url_ = server.CreateDatabase("retention" + std::to_string(++databases));
      ASSERT_FALSE(url_.empty()) << server.Error();
      CreatePgSchema(url_);
      conf += "database_url = " + url_ + "\n";
#else
      GTEST_SKIP() << "built without PostgreSQL support";
#endif
    }
    // Read by the service and the tool alike.
    std::ofstream(Directory() + "/veltrane.conf") << conf;
  }

  std::string Directory() const { return harness.databases.Directory(); }

  void Main(const std::string& sql) const {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) return PgDatabase(url_).ExecuteScript(sql);
#endif
    harness.databases.Main(sql);
  }

  void Sites(const std::string& sql) const {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) return PgDatabase(url_).ExecuteScript(sql);
#endif
    harness.databases.Subscription(sql);
  }

  int Count(const std::string& sql) const {
#ifdef VELTRANE_WITH_POSTGRES
    if (!url_.empty()) return static_cast<int>(PgDatabase(url_).Execute(sql).Integer(0, 0));
#endif
    return std::stoi(harness.databases.MainScalar(sql));
  }

  int HistoryRows(const std::string& release) const {
    return Count("SELECT count(*) FROM history WHERE name = " + Quoted(release));
  }

  void AddSite(const std::string& name, const std::string& url) {
    Sites("INSERT INTO subscription (name, url, submission_data) VALUES (" + Quoted(name) + ", " +
          Quoted(url) + ", " + Quoted(FormScript()) + ")");
  }

  void AddSchedule(int id, const std::string& release, const std::string& sites, double next,
                   bool disabled) {
    Main("INSERT INTO pressrelease (name, contact_data, headline) VALUES (" + Quoted(release) +
         ", 'company_name=Acme\r\n', 'Acme news');"
         "INSERT INTO schedule (id, name, subscription, frequency, time, next, disabled) VALUES (" +
         std::to_string(id) + ", " + Quoted(release) + ", " + Quoted(sites) + ", 1, 0, " +
         std::to_string(next) + ", " + (disabled ? "1" : "NULL") + ")");
  }

  int Admin(std::vector<std::string> args) {
    std::istringstream in;
    std::ostringstream outStream, errStream;
    args.insert(args.begin(), {"--dir", Directory()});
    const int code = admin::RunAdmin(args, {in, outStream, errStream});
    out = outStream.str();
    err = errStream.str();
    return code;
  }

  FaultHarness harness;
  std::string out;
  std::string err;

 private:
  std::string url_;
};

INSTANTIATE_TEST_SUITE_P(Backends, ServiceRetentionTest,
                         ::testing::Values(Backend::Files, Backend::Server), [](const auto& info) {
                           return info.param == Backend::Files ? "Files" : "Server";
                         });

TEST_P(ServiceRetentionTest, RunningJobsItemsStayDisabledScheduleWaitsAndOldHistoryIsPruned) {
  harness.server.Serve("/alpha/", FormPage("/alpha/post"));
  harness.server.Serve("/alpha/post", std::string(kThanks));
  AddSite("alpha", harness.server.Url("/alpha/"));
  // The slow site keeps its page loading until the page deadline, which
  // holds the job there.
  harness.server.ServeStalled("/slow/", "<html><body>");
  AddSite("slow", harness.server.Url("/slow/"));
  // Schedule 1 is the longer due, but disabled.
  AddSchedule(1, "Paused", "alpha\r\n", 1, true);
  AddSchedule(2, "Slow", "slow\r\nalpha\r\n", 2, false);

  // History from long ago, with its job, its site's outcome and screenshot.
  const std::string shots = Directory() + "/shots";
  std::filesystem::create_directories(shots);
  chmod(shots.c_str(), 0700);
  std::ofstream(shots + "/20000101-000000-gone.png") << "png";
  std::ofstream(shots + "/unnamed.png") << "png";
  Main(
      "INSERT INTO history (name, time, status, content, subscription) "
      "VALUES ('Old', '1,5', 'Failed', 'old', 'gone');"
      "INSERT INTO job (schedule_id, name, queued, started, finished, history_id) "
      "VALUES (NULL, 'Old', 1, 1, 1.5, 1);"
      "INSERT INTO job_site (job_id, schedule_id, position, site, status, reason, started, "
      "ended, last_url, screenshot) VALUES (1, NULL, 0, 'gone', 'Failed', 'Timeout', 1, 1.1, "
      "'', '20000101-000000-gone.png')");

  harness.Start(10000, 500);
  ASSERT_TRUE(harness.WaitFor([&] { return harness.Requests("/slow/") > 0; }));
  const std::vector<std::string> refused[] = {{"site", "remove", "slow"},
                                              {"site", "remove", "alpha"},
                                              {"schedule", "remove", "2"},
                                              {"schedule", "disable", "2"},
                                              {"release", "remove", "Slow", "--force"}};
  for (const std::vector<std::string>& command : refused) {
    EXPECT_EQ(1, Admin(command)) << command[0] << " " << command[1] << " " << command[2];
    EXPECT_NE(std::string::npos, err.find(", which has not ended; try again once it has\n")) << err;
  }

  ASSERT_TRUE(harness.WaitFor([&] { return HistoryRows("Slow") == 1; }));
  EXPECT_EQ(0, Admin({"schedule", "remove", "2"})) << err;
  EXPECT_EQ(0, Admin({"site", "remove", "slow"})) << err;
  EXPECT_EQ(0, Admin({"release", "remove", "Slow"})) << err;

  // Pruned at start, between jobs.
  ASSERT_TRUE(harness.WaitFor([&] {
    return harness.TraceCount(
               "History older than 30 days pruned: 1 history row (1), 1 job with 1 site "
               "outcome, 1 screenshot") == 1;
  }));
  EXPECT_EQ(0, HistoryRows("Old"));
  EXPECT_EQ(0, Count("SELECT count(*) FROM job_site WHERE site = 'gone'"));
  EXPECT_FALSE(std::filesystem::exists(shots + "/20000101-000000-gone.png"));
  EXPECT_TRUE(std::filesystem::exists(shots + "/unnamed.png"));

  // Polled many times meanwhile, the disabled schedule never ran.
  EXPECT_EQ(0, HistoryRows("Paused"));
  EXPECT_EQ(0, Count("SELECT count(*) FROM job WHERE schedule_id = 1"));
  ASSERT_EQ(0, Admin({"schedule", "enable", "1"})) << err;
  EXPECT_TRUE(harness.WaitFor([&] { return HistoryRows("Paused") == 1; }));
}

}  // namespace
}  // namespace veltrane::testing
