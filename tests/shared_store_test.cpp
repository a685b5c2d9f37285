// Several service instances, each in a folder of its own, sharing one
// PostgreSQL store: every due schedule runs on exactly one of them, a job
// whose instance was killed is finished by another without posting an ended
// site again nor one it was submitting when killed, and a server restart in
// the middle of a job loses nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_stores.h"
#include "tests/support/fault_harness.h"
#include "tests/support/fault_servers.h"
#include "tests/support/postgres_server.h"
#include "tests/support/recording_http_server.h"
#include "tests/support/service_process.h"
#include "tests/support/shared_instances.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_for.h"

namespace veltrane {
namespace {

using testing::WaitFor;

using testing::FormPage;
using testing::FormScript;
using testing::kThanks;

class SharedStoreTest : public testing::SharedInstancesTest {
 protected:
  // A site on the web server whose form posts to /<name>/post.
  void AddFormSite(const std::string& name) {
    web.Serve("/" + name + "/", FormPage("/" + name + "/post"));
    web.Serve("/" + name + "/post", std::string(kThanks) + " from " + name);
    Query("INSERT INTO subscription (name, url, submission_data) VALUES ($1, $2, $3)",
          {name, web.Url("/" + name + "/"), FormScript()});
  }

  void AddSchedule(int id, const std::string& release, const std::string& sites) {
    Query(
        "INSERT INTO pressrelease (name, contact_data, headline) VALUES ($1, $2, 'Acme news') "
        "ON CONFLICT DO NOTHING",
        {release, "company_name=Acme\r\n"});
    Query(
        "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
        "VALUES ($1, $2, $3, 1, 0, 1)",
        {std::to_string(id), release, sites});
  }

  void ExpectEveryScheduleRanOnceOnSomeInstance(int schedules) {
    ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") >= schedules; },
                        std::chrono::seconds(240)));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // room for a wrong extra run
    EXPECT_EQ(schedules, Count("SELECT count(*) FROM history"));
    EXPECT_EQ(schedules, Count("SELECT count(*) FROM job WHERE finished IS NOT NULL"));
    for (int i = 1; i <= schedules; ++i) EXPECT_EQ(1, Posts("s" + std::to_string(i))) << i;
  }
};

TEST_F(SharedStoreTest, ThirtyDueSchedulesRunOnceEachAcrossTwoAndThenThreeInstances) {
  for (int round = 0; round < 2; ++round) {
    const int first = round * 30 + 1;
    for (int id = first; id < first + 30; ++id) {
      AddFormSite("s" + std::to_string(id));
      AddSchedule(id, "Release " + std::to_string(id), "s" + std::to_string(id) + "\r\n");
    }
    // Two instances for the first thirty; a third joins for the next thirty.
    if (round == 0) {
      StartInstance();
      StartInstance();
    } else {
      StartInstance();
    }
    ExpectEveryScheduleRanOnceOnSomeInstance(first + 29);
  }
  // Every instance took a share: work is claimed only by an idle instance.
  EXPECT_EQ(3, Count("SELECT count(DISTINCT holder) FROM job"));
}

TEST_F(SharedStoreTest, AKilledInstancesJobIsFinishedByAnotherWithoutPostingAnEndedSiteAgain) {
  for (const char* site : {"a", "b", "d"}) AddFormSite(site);
  // Site c keeps its page loading until the page deadline, which holds the
  // job there long enough to kill its instance.
  web.ServeStalled("/c/", "<html><body>");
  Query("INSERT INTO subscription (name, url, submission_data) VALUES ('c', $1, $2)",
        {web.Url("/c/"), FormScript()});
  AddSchedule(1, "Taken over", "a\r\nb\r\nc\r\nd\r\n");

  testing::ServiceProcess& doomed = StartInstance();
  ASSERT_TRUE(WaitFor([&] { return !web.RequestsTo("/c/").empty(); }, std::chrono::seconds(120)));
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM job_site") == 2; },
                      std::chrono::seconds(30)));
  EXPECT_TRUE(doomed.KillAndAwaitEmptyGroup(std::chrono::seconds(30)));

  StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(180)));
  EXPECT_EQ(1, Posts("a"));
  EXPECT_EQ(1, Posts("b"));
  EXPECT_EQ(1, Posts("d"));
  const std::string report = Query("SELECT content FROM history").Text(0, 0);
  for (const char* site : {" - a", " - b", " - c", " - d"})
    EXPECT_NE(std::string::npos, report.find(site)) << report;
  EXPECT_NE(std::string::npos, report.find("Interrupted and resumed")) << report;
  EXPECT_EQ(1, Count("SELECT count(*) FROM job"));
}

TEST_F(SharedStoreTest, ASiteKilledWhileSubmittingIsReportedByTheTakeOverNotPostedAgain) {
  for (const char* site : {"a", "c"}) AddFormSite(site);
  web.Serve("/b/", FormPage("/b/post"));
  Query("INSERT INTO subscription (name, url, submission_data) VALUES ('b', $1, $2)",
        {web.Url("/b/"), FormScript()});
  AddSchedule(1, "Unknown", "a\r\nb\r\nc\r\n");
  testing::HeldResponse post(web, "/b/post", kThanks);

  testing::ServiceProcess& doomed = StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Posts("b") > 0; }, std::chrono::seconds(120)));
  EXPECT_TRUE(doomed.KillAndAwaitEmptyGroup(std::chrono::seconds(30)));
  post.Open();

  StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(180)));
  EXPECT_EQ(1, Posts("a"));
  EXPECT_EQ(1, Posts("b"));
  EXPECT_EQ(1, Posts("c"));
  const std::string report = Query("SELECT content FROM history").Text(0, 0);
  EXPECT_NE(std::string::npos,
            report.find("Failed submission : \r\n - b (Outcome unknown (interrupted while "
                        "submitting))\r\n"))
      << report;
  EXPECT_EQ(1, Count("SELECT count(*) FROM job_site WHERE site = 'c' AND status = 'Completed'"));
}

TEST_F(SharedStoreTest, AServerRestartDuringAJobLosesNothing) {
  for (int i = 1; i <= 6; ++i) {
    AddFormSite("s" + std::to_string(i));
    AddSchedule(i, "Release " + std::to_string(i), "s" + std::to_string(i) + "\r\n");
  }
  StartInstance();
  StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") >= 1; },
                      std::chrono::seconds(120)));
  ASSERT_TRUE(server.Stop()) << server.Error();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(server.Start()) << server.Error();
  ExpectEveryScheduleRanOnceOnSomeInstance(6);
  for (const auto& instance : instances) EXPECT_TRUE(instance->Running());
}

}  // namespace
}  // namespace veltrane
