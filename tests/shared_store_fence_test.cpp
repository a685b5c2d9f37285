// Service instances on one PostgreSQL store under faults of their own: an
// instance cut off from the server while in a job loses it to another and
// stops it without posting or writing anything more; a day clock that jumps
// back loses no lease; a claim whose start fails in an outage is started
// again, and leaves no lease behind; an instance in another zone runs
// schedules by the server's time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_stores.h"
#include "tests/support/fault_harness.h"
#include "tests/support/postgres_server.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/service_process.h"
#include "tests/support/shared_instances.h"
#include "tests/support/tcp_proxy.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace veltrane {
namespace {

using testing::WaitFor;

using testing::FormPage;
using testing::FormScript;
using testing::kThanks;

constexpr const char* kLostJob = " was taken over by another instance; this instance stops it";

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

class SharedStoreFenceTest : public testing::SharedInstancesTest {
 protected:
  void SetUp() override {
    SharedServerTest::SetUp();
    if (HasFatalFailure()) return;
    Query("INSERT INTO pressrelease (name, contact_data, headline) VALUES ('Release', $1, 'news')",
          {"company_name=Acme\r\n"});
  }

  // The server's local time as a day number.
  double ServerNow() {
    return Query("SELECT extract(epoch FROM localtimestamp)::float8 / 86400 + 25569").Real(0, 0);
  }

  // A site whose form posts to /<name>/post; its page comes after `delay`.
  void AddFormSite(const std::string& name, std::chrono::milliseconds delay = {}) {
    web.Handle("/" + name + "/", [page = FormPage("/" + name + "/post"), delay](
                                     const httplib::Request&, httplib::Response& response) {
      std::this_thread::sleep_for(delay);
      response.set_content(page, "text/html; charset=utf-8");
    });
    web.Serve("/" + name + "/post", std::string(kThanks) + " from " + name);
    Query("INSERT INTO subscription (name, url, submission_data) VALUES ($1, $2, $3)",
          {name, web.Url("/" + name + "/"), FormScript()});
  }

  // A daily schedule of release 'Release'.
  void AddSchedule(int id, const std::string& sites, double next = 1) {
    Query(
        "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
        "VALUES ($1, 'Release', $2, 1, 0, $3)",
        {std::to_string(id), sites, std::to_string(next)});
  }
};

TEST_F(SharedStoreFenceTest, AnInstanceCutOffInAJobLosesItAndPostsAndWritesNothingMore) {
  const std::vector<std::string> sites = {"s1", "s2", "s3", "s4", "s5"};
  // Site s3's page takes longer than the lease: the cut falls on the wait for it.
  for (const std::string& site : sites)
    AddFormSite(site, std::chrono::milliseconds(site == "s3" ? 6000 : 0));
  AddSchedule(1, "s1\r\ns2\r\ns3\r\ns4\r\ns5\r\n");
  testing::TcpProxy proxy(server.SocketPath());
  testing::ServiceProcess& cutOff =
      StartInstance({}, testing::PostgresServer::UrlThrough(proxy.Port(), "veltrane"));
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM job WHERE started IS NOT NULL"); },
                      std::chrono::seconds(120)));
  StartInstance();
  ASSERT_TRUE(WaitFor([&] { return !web.RequestsTo("/s3/").empty(); }, std::chrono::seconds(60)));
  ASSERT_EQ(2, Count("SELECT count(*) FROM job_site"));
  const std::string holder = Query("SELECT holder FROM job").Text(0, 0);
  proxy.Set(testing::TcpProxy::Mode::Cut);
  // The other instance takes the job over once the lease has run out.
  ASSERT_TRUE(WaitFor([&] { return Query("SELECT holder FROM job").Text(0, 0) != holder; },
                      std::chrono::seconds(30)));
  std::this_thread::sleep_for(std::chrono::seconds(8));  // past the page the cut-off one waited on
  proxy.Set(testing::TcpProxy::Mode::Pass);
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(120)));
  std::this_thread::sleep_for(std::chrono::seconds(3));  // room for a late post or write

  for (const std::string& site : sites) EXPECT_EQ(1, Posts(site)) << site;
  const std::string log = cutOff.ErrorLog();
  const std::string job = Query("SELECT id FROM job").Text(0, 0);
  EXPECT_EQ(1, Occurrences(log, "Job " + job + " of schedule 1" + kLostJob)) << log;
  EXPECT_NE(std::string::npos, log.find("Leases of the running jobs not renewed : ")) << log;
  // Nothing after the warning: no site started, none ended, no report.
  const std::string after = log.substr(log.find(kLostJob));
  for (const char* line : {"Current site : ", "Submission completed", "Cannot record the end"})
    EXPECT_EQ(std::string::npos, after.find(line)) << line;
  EXPECT_EQ(static_cast<long long>(sites.size()), Count("SELECT count(*) FROM job_site"));
  EXPECT_EQ(1, Count("SELECT count(*) FROM job WHERE finished IS NOT NULL AND token = 2"));
}

TEST_F(SharedStoreFenceTest, ADayClockThatJumpsBackAnHourLosesNoLease) {
  const std::vector<std::string> sites = {"s1", "s2", "s3", "s4", "s5", "s6", "s7", "s8"};
  for (const std::string& site : sites) AddFormSite(site, std::chrono::milliseconds(1500));
  AddSchedule(1, "s1\r\ns2\r\ns3\r\ns4\r\ns5\r\ns6\r\ns7\r\ns8\r\n");
  testing::ServiceProcess& jumping = StartInstance({{"VELTRANE_TEST_CLOCK_JUMP", "7000:-3600"}});
  // The clock jumps while the job runs: sites end an hour before the first began.
  ASSERT_TRUE(WaitFor(
      [&] {
        return Count(
                   "SELECT count(*) FROM job_site WHERE ended < "
                   "(SELECT started FROM job_site WHERE position = 0)") > 0;
      },
      std::chrono::seconds(60)))
      << "the jump came before or after the job";
  // Another instance, which would take the job over had its lease been lost,
  // and which helps with the sites left meanwhile.
  StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(120)));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  for (const std::string& site : sites) EXPECT_EQ(1, Posts(site)) << site;
  EXPECT_EQ(1, Count("SELECT count(*) FROM job WHERE token = 1"));
  EXPECT_EQ(std::string::npos, jumping.ErrorLog().find(kLostJob));
  EXPECT_EQ(std::string::npos,
            Query("SELECT content FROM history").Text(0, 0).find("Interrupted and resumed"));
}

TEST_F(SharedStoreFenceTest, AClaimWhoseStartFailsInAnOutageIsStartedAgainAndHoldsNoLeaseAfter) {
  AddFormSite("s1");
  testing::ServiceProcess& instance = StartInstance();
  // The job's start waits on the release, locked here, until the server goes away.
  auto locker = std::make_unique<PgDatabase>(url);
  locker->Execute("BEGIN");
  locker->Execute("LOCK TABLE pressrelease IN ACCESS EXCLUSIVE MODE");
  AddSchedule(1, "s1\r\n");
  ASSERT_TRUE(WaitFor(
      [&] {
        return Count("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'") > 0;
      },
      std::chrono::seconds(60)));
  ASSERT_EQ(1, Count("SELECT count(*) FROM job WHERE started IS NULL AND holder IS NOT NULL"));
  ASSERT_TRUE(server.Stop()) << server.Error();
  locker.reset();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(server.Start()) << server.Error();

  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(60)));
  EXPECT_EQ(1, Posts("s1"));
  // Idle, it holds nothing, and the schedule runs again when asked to.
  EXPECT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM job WHERE finished IS NULL") == 0; },
                      std::chrono::seconds(10)));
  Query("UPDATE schedule SET next = 1");
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 2; },
                      std::chrono::seconds(60)));
  EXPECT_EQ(2, Posts("s1"));
  EXPECT_EQ(std::string::npos, instance.ErrorLog().find("already queued or running"));
}

TEST_F(SharedStoreFenceTest, AnInstanceInAnotherZoneRunsSchedulesByTheServersTime) {
  Query("ALTER DATABASE veltrane SET timezone TO 'UTC'");
  AddFormSite("due");
  AddFormSite("later");
  const double now = ServerNow();
  AddSchedule(1, "due\r\n", now - 1.0 / 1440);
  // Due at once by the instance's own clock, five hours ahead; in two hours by the server's.
  AddSchedule(2, "later\r\n", now + 2.0 / 24);
  testing::ServiceProcess& east = StartInstance({{"TZ", "XST-5"}});
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(120)));
  std::this_thread::sleep_for(std::chrono::seconds(3));  // polls enough to take schedule 2
  EXPECT_EQ(1, Posts("due"));
  EXPECT_EQ(0, Posts("later"));
  // The next run is a day on in the server's time, not five hours more.
  const double next = Query("SELECT next FROM schedule WHERE id = 1").Real(0, 0);
  EXPECT_NEAR(ServerNow() + 1, next, 0.01);
  EXPECT_EQ(1, Occurrences(east.ErrorLog(),
                           "This instance's time zone (UTC+05:00) differs from the database "
                           "server's (UTC, UTC+00:00): due times are judged on the server's "
                           "local time"))
      << east.ErrorLog();
}

}  // namespace
}  // namespace veltrane
