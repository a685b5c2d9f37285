// Two service instances on a throw-away PostgreSQL server sharing one job:
// the idle one helps by claiming the sites nobody has claimed, no site runs
// or posts twice, the instance that ends the last site writes the one
// history row, a helper killed while it submits leaves its site reported in
// doubt, not posted again, and a job taken over meanwhile waits for a site a
// helper still submits.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fault_harness.h"
#include "tests/support/fault_servers.h"
#include "tests/support/shared_instances.h"
#include "tests/support/wait_for.h"

namespace veltrane {
namespace {

using testing::FormPage;
using testing::FormScript;
using testing::kThanks;
using testing::WaitFor;

int Lines(const std::string& log, const std::string& text) {
  std::istringstream lines(log);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) count += line.find(text) != std::string::npos;
  return count;
}

class SharedJobTest : public testing::SharedInstancesTest {
 protected:
  void AddSite(const std::string& name, bool stalled = false) {
    if (stalled) {
      // Its page keeps loading until the page deadline: the site fails there.
      web.ServeStalled("/" + name + "/", "<html><body>");
    } else {
      web.Serve("/" + name + "/", FormPage("/" + name + "/post"));
      // The posts of s1 and s2 are each test's own, held until it opens them.
      if (name != "s1" && name != "s2")
        web.Serve("/" + name + "/post", std::string(kThanks) + " from " + name);
    }
    Query("INSERT INTO subscription (name, url, submission_data) VALUES ($1, $2, $3)",
          {name, web.Url("/" + name + "/"), FormScript()});
  }

  void AddJob(const std::vector<std::string>& sites) {
    std::string list;
    for (const std::string& site : sites) list += site + "\r\n";
    Query(
        "INSERT INTO pressrelease (name, contact_data, headline) "
        "VALUES ('Shared', 'company_name=Acme\r\n', 'Acme news')");
    Query(
        "INSERT INTO schedule (id, name, subscription, frequency, time, next) "
        "VALUES (1, 'Shared', $1, 1, 0, 1)",
        {list});
  }

  std::string Report() { return Query("SELECT content FROM history").Text(0, 0); }
};

TEST_F(SharedJobTest, AnIdleInstanceHelpsAndTheOneThatEndsTheLastSiteReportsTheJobOnce) {
  AddSite("s1");
  AddSite("s2", true);
  for (const char* site : {"s3", "s4", "s5", "s6"}) AddSite(site);
  AddJob({"s1", "s2", "s3", "s4", "s5", "s6"});
  // The job's holder waits on its first post until the helper runs s2.
  testing::HeldResponse post(web, "/s1/post", kThanks);

  testing::ServiceProcess& holder = StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Posts("s1") > 0; }, std::chrono::seconds(120)));
  testing::ServiceProcess& helper = StartInstance();
  ASSERT_TRUE(WaitFor([&] { return !web.RequestsTo("/s2/").empty(); }, std::chrono::seconds(60)));
  post.Open();

  // The holder runs s3 to s6 while s2 stalls on the helper, which ends last.
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(120)));
  std::this_thread::sleep_for(std::chrono::seconds(2));  // room for a second report
  EXPECT_EQ(1, Count("SELECT count(*) FROM history"));
  for (const char* site : {"s1", "s3", "s4", "s5", "s6"}) EXPECT_EQ(1, Posts(site)) << site;
  EXPECT_EQ(1u, web.RequestsTo("/s2/").size());
  EXPECT_EQ(1, Lines(helper.ErrorLog(), "Helping with job"));
  EXPECT_EQ(1, Lines(helper.ErrorLog(), "Submission completed"));
  EXPECT_EQ(1, Lines(holder.ErrorLog(), "Site s2 runs on another instance"));
  EXPECT_EQ(1, Lines(holder.ErrorLog(), "was reported by another instance"));
  const std::string report = Report();
  std::size_t last = 0;
  for (const char* site : {" - s1\r\n", " - s3\r\n", " - s4\r\n", " - s5\r\n", " - s6\r\n"}) {
    const std::size_t at = report.find(site);
    ASSERT_NE(std::string::npos, at) << site << "\n" << report;
    EXPECT_LT(last, at) << "schedule order\n" << report;
    last = at;
  }
  EXPECT_NE(std::string::npos, report.find("Failed submission : \r\n - s2 (")) << report;
  EXPECT_EQ(6, Count("SELECT count(*) FROM job_site"));
  // The helper's failed site keeps its screenshot, named after its end was recorded.
  EXPECT_NE("", Query("SELECT screenshot FROM job_site WHERE position = 1").Text(0, 0));
  EXPECT_EQ(0, Count("SELECT count(*) FROM job_site_claim"));
}

TEST_F(SharedJobTest, AHelperKilledWhileSubmittingLeavesItsSiteInDoubtAndNothingPostedTwice) {
  for (const char* site : {"s1", "s2", "s3", "s4"}) AddSite(site);
  AddJob({"s1", "s2", "s3", "s4"});
  testing::HeldResponse first(web, "/s1/post", kThanks);
  testing::HeldResponse second(web, "/s2/post", kThanks);

  StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Posts("s1") > 0; }, std::chrono::seconds(120)));
  testing::ServiceProcess& helper = StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Posts("s2") > 0; }, std::chrono::seconds(60)));
  EXPECT_TRUE(helper.KillAndAwaitEmptyGroup(std::chrono::seconds(30)));
  first.Open();
  second.Open();

  // Once the helper's claim runs out, the holder reports s2 as it was left.
  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(120)));
  for (const char* site : {"s1", "s2", "s3", "s4"}) EXPECT_EQ(1, Posts(site)) << site;
  const std::string report = Report();
  EXPECT_NE(std::string::npos,
            report.find("Failed submission : \r\n - s2 (Outcome unknown (interrupted while "
                        "submitting))\r\n"))
      << report;
  for (const char* site : {" - s1\r\n", " - s3\r\n", " - s4\r\n"})
    EXPECT_NE(std::string::npos, report.find(site)) << report;
}

TEST_F(SharedJobTest, AJobTakenOverWhileAHelperSubmitsWaitsForThatSitesRealEnd) {
  for (const char* site : {"s1", "s2", "s3", "s4"}) AddSite(site);
  AddJob({"s1", "s2", "s3", "s4"});
  testing::HeldResponse first(web, "/s1/post", kThanks);
  testing::HeldResponse second(web, "/s2/post", kThanks);

  testing::ServiceProcess& holder = StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Posts("s1") > 0; }, std::chrono::seconds(120)));
  StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Posts("s2") > 0; }, std::chrono::seconds(60)));
  EXPECT_TRUE(holder.KillAndAwaitEmptyGroup(std::chrono::seconds(30)));
  first.Open();
  // A third instance takes the job over while the helper's s2 is in doubt.
  testing::ServiceProcess& taker = StartInstance();
  ASSERT_TRUE(WaitFor([&] { return Lines(taker.ErrorLog(), "Resuming interrupted job") > 0; },
                      std::chrono::seconds(120)));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // room for a wrong report
  EXPECT_EQ(0, Count("SELECT count(*) FROM history"));
  second.Open();

  ASSERT_TRUE(WaitFor([&] { return Count("SELECT count(*) FROM history") == 1; },
                      std::chrono::seconds(120)));
  for (const char* site : {"s1", "s2", "s3", "s4"}) EXPECT_EQ(1, Posts(site)) << site;
  const std::string report = Report();
  EXPECT_NE(std::string::npos, report.find(" - s2\r\n")) << report;
  EXPECT_NE(std::string::npos,
            report.find("Failed submission : \r\n - s1 (Outcome unknown (interrupted while "
                        "submitting))\r\n"))
      << report;
}

}  // namespace
}  // namespace veltrane
