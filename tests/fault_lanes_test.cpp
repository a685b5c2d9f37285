// The built service running several sites of a job at once (parallel_sites):
// among normal sites, ones that fail, time out, open dialogs or send
// themselves on each end once; the report keeps the schedule's order; no
// host has more lanes than parallel_per_host; no release is posted twice,
// also when the service is killed while lanes are open.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fault_harness.h"
#include "tests/support/fault_servers.h"

namespace veltrane::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr seconds kJobBound{120};

void WriteSettings(FaultHarness& harness, const std::string& text) {
  std::ofstream(harness.databases.Directory() + "/veltrane.conf") << text;
}

// The completed sites in the order the report lists them.
std::vector<std::string> CompletedInReportOrder(const std::string& report) {
  std::vector<std::string> sites;
  std::size_t at = 0;
  while ((at = report.find("\n - ", at)) != std::string::npos) {
    at += 4;
    const std::size_t end = report.find('\r', at);
    sites.push_back(report.substr(at, end - at));
    if (report.compare(end, 4, "\r\n\r\n") == 0) break;  // the failed sites follow
  }
  return sites;
}

TEST(FaultLanes, EverySiteEndsOnceAndTheReportKeepsTheSchedulesOrder) {
  FaultHarness harness;
  WriteSettings(harness, "parallel_sites = 4\nparallel_per_host = 4\n");
  // Answers that take a while keep several lanes busy at once.
  harness.server.DelayEachAnswer(milliseconds(200));
  const auto post = [](const std::string& name) { return "/" + name + "/post"; };
  const auto addPage = [&](const std::string& name, const std::string& page,
                           const std::string& script) {
    harness.server.Serve("/" + name + "/", page);
    harness.server.Serve(post(name), kThanks);
    harness.AddSite(name, harness.server.Url("/" + name + "/"), script);
  };
  for (const char* site : {"one", "two", "three", "four", "five", "six"}) harness.AddFormSite(site);
  addPage("no-form", "<html><body>Nothing to fill</body></html>", FormScript());
  harness.server.ServeStalled("/stalled/", "<html><body>Still loading");
  harness.AddSite("stalled", harness.server.Url("/stalled/"), FormScript());
  addPage("dialogs",
          "<html><body><form action='/dialogs/post' method='post'><input name='t'>"
          "<input type='hidden' name='c'></form><script>"
          "addEventListener('load', () => { alert('Hello');"
          " document.forms[0].c.value = confirm('Sure?'); });</script></body></html>",
          FormScript());
  addPage("redirect",
          "<html><body>One moment<script>addEventListener('load', () => setTimeout(() => {"
          " location.href = '/redirect/final'; }, 0));</script></body></html>",
          "[STEP1]\nAPP-WaitForRedirect=1\n[STEP2]\nAPP-FormPos=0\nt=$$headline$$\n[STEP3]\n"
          "APP-SuccessString=" +
              std::string(kThanks) + "\n");
  harness.server.Serve("/redirect/final", FormPage(post("redirect")));
  const std::vector<std::string> sites = {"one",     "no-form", "two",      "stalled", "three",
                                          "dialogs", "four",    "redirect", "five",    "six"};
  harness.AddSchedule(1, "Lanes", sites);
  harness.AddSentinel();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  std::map<std::string, std::string> expected;
  for (const std::string& site : sites) expected[site] = "Completed";
  expected["stalled"] = "Timeout";
  const std::map<std::string, std::string> outcomes = harness.Outcomes("Lanes");
  ASSERT_EQ(1u, outcomes.count("no-form"));
  expected["no-form"] = outcomes.at("no-form");
  EXPECT_NE("Completed", expected["no-form"]);
  EXPECT_EQ(expected, outcomes) << harness.Report("Lanes");
  EXPECT_EQ((std::vector<std::string>{"one", "two", "three", "dialogs", "four", "redirect", "five",
                                      "six"}),
            CompletedInReportOrder(harness.Report("Lanes")))
      << harness.Report("Lanes");
  EXPECT_EQ(1, harness.HistoryRows("Lanes"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  for (const std::string& site : sites) {
    if (site != "no-form" && site != "stalled") {
      EXPECT_EQ(1, harness.Requests(post(site))) << site;
    }
  }
  const auto dialogs = harness.server.RequestsTo("/dialogs/post");
  ASSERT_EQ(1u, dialogs.size());
  EXPECT_EQ("true", dialogs[0].params.find("c")->second);
  // The sites did run at once, each lane tracing under its own prefix.
  EXPECT_GE(harness.server.MostAtOnce(), 2);
  EXPECT_GT(harness.TraceCount("[lane 2] Current site : "), 0);
  EXPECT_EQ(1, harness.TraceCount("Current site : stalled"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultLanes, NoHostHasMoreLanesThanParallelPerHost) {
  FaultHarness harness;
  WriteSettings(harness, "parallel_sites = 4\nparallel_per_host = 2\n");
  harness.server.DelayEachAnswer(milliseconds(300));
  // The first four sites share one host: without the limit, four lanes would take them at once.
  std::vector<std::string> sites;
  for (int i = 1; i <= 8; ++i) {
    const std::string name = "site" + std::to_string(i);
    harness.server.Serve("/" + name + "/", FormPage("/" + name + "/post"));
    harness.server.Serve("/" + name + "/post", kThanks);
    std::string url = harness.server.Url("/" + name + "/");
    if (i > 4) url.replace(url.find("127.0.0.1"), 9, "localhost");
    harness.AddSite(name, url, FormScript());
    sites.push_back(name);
  }
  harness.AddSchedule(1, "Hosts", sites);
  harness.AddSentinel();

  harness.Start(5000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));

  std::map<std::string, std::string> expected;
  for (const std::string& site : sites) expected[site] = "Completed";
  EXPECT_EQ(expected, harness.Outcomes("Hosts")) << harness.Report("Hosts");
  EXPECT_EQ(2, harness.server.MostAtOnce("127.0.0.1"));
  EXPECT_EQ(2, harness.server.MostAtOnce("localhost"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultLanes, AKilledJobResumesOnlyTheSitesThatHadNotEnded) {
  FaultHarness harness;
  WriteSettings(harness, "parallel_sites = 3\nparallel_per_host = 3\n");
  for (const char* site : {"a", "b", "d", "f"}) harness.AddFormSite(site);
  for (const char* site : {"c", "e"}) {
    harness.server.Serve(std::string("/") + site + "/post", kThanks);
    harness.AddSite(site, harness.server.Url(std::string("/") + site + "/"), FormScript());
  }
  // The first visits of c and e are held until the service is gone.
  HeldResponse c(harness.server, "/c/", FormPage("/c/post"));
  HeldResponse e(harness.server, "/e/", FormPage("/e/post"));
  harness.AddSchedule(1, "Lanes resumed", {"a", "b", "c", "d", "e", "f"});
  harness.AddSentinel();

  harness.Start(60000);
  // Four sites have ended and are journaled; c and e wait for their first pages.
  ASSERT_TRUE(harness.WaitFor([&] {
    return harness.Requests("/c/") > 0 && harness.Requests("/e/") > 0 &&
           harness.databases.MainScalar("SELECT COUNT(*) FROM job_site") == "4";
  }));
  for (const char* post : {"/a/post", "/b/post", "/d/post", "/f/post"})
    ASSERT_EQ(1, harness.Requests(post)) << post;
  EXPECT_TRUE(harness.KillLeavesNothing()) << "the killed service left processes behind";
  c.Open();
  e.Open();
  EXPECT_EQ(0, harness.HistoryRows("Lanes resumed"));

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));
  std::map<std::string, std::string> expected;
  for (const char* site : {"a", "b", "c", "d", "e", "f"}) expected[site] = "Completed";
  EXPECT_EQ(expected, harness.Outcomes("Lanes resumed")) << harness.Report("Lanes resumed");
  EXPECT_NE(std::string::npos, harness.Report("Lanes resumed").find("Interrupted and resumed"));
  for (const char* site : {"/a/", "/b/", "/d/", "/f/"})
    EXPECT_EQ(1, harness.Requests(site)) << site;
  for (const char* post : {"/a/post", "/b/post", "/c/post", "/d/post", "/e/post", "/f/post"})
    EXPECT_EQ(1, harness.Requests(post)) << post;
  EXPECT_EQ(1, harness.HistoryRows("Lanes resumed"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// Two lanes send their releases at once and the service is killed before
// either post is answered: after the restart both are reported as in doubt,
// and neither is posted again.
TEST(FaultLanes, KilledWhileTwoLanesSubmitNoReleaseIsPostedTwice) {
  FaultHarness harness;
  WriteSettings(harness, "parallel_sites = 2\n");
  for (const char* site : {"x", "y"}) {
    harness.server.Serve(std::string("/") + site + "/",
                         FormPage(std::string("/") + site + "/post"));
    harness.AddSite(site, harness.server.Url(std::string("/") + site + "/"), FormScript());
  }
  HeldResponse x(harness.server, "/x/post", kThanks);
  HeldResponse y(harness.server, "/y/post", kThanks);
  harness.AddSchedule(1, "Doubt", {"x", "y"});
  harness.AddSentinel();

  harness.Start(60000);
  ASSERT_TRUE(harness.WaitFor(
      [&] { return harness.Requests("/x/post") == 1 && harness.Requests("/y/post") == 1; }));
  EXPECT_TRUE(harness.KillLeavesNothing()) << "the killed service left processes behind";
  x.Open();
  y.Open();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, kJobBound));
  EXPECT_EQ(
      (std::map<std::string, std::string>{{"x", "Outcome unknown (interrupted while submitting)"},
                                          {"y", "Outcome unknown (interrupted while submitting)"}}),
      harness.Outcomes("Doubt"))
      << harness.Report("Doubt");
  EXPECT_EQ(1, harness.Requests("/x/post"));
  EXPECT_EQ(1, harness.Requests("/y/post"));
  EXPECT_EQ(1, harness.Requests("/x/"));
  EXPECT_EQ(1, harness.Requests("/y/"));
  EXPECT_EQ(1, harness.HistoryRows("Doubt"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

}  // namespace
}  // namespace veltrane::testing
