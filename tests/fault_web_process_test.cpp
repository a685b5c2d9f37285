// The built service when its web process dies or hangs: killed while a page
// loads, while a page script waits, while a form is being posted, or stuck in
// an endless script loop. The site ends with "Timeout" (no page comes), the
// process is replaced for the next site, and a post is never sent again.
#include <gtest/gtest.h>

#include "tests/support/fault_harness.h"
#include "tests/support/fault_servers.h"

namespace veltrane::testing {
namespace {

TEST(FaultWebProcess, KilledWebProcessEndsItsSiteAndTheNextSiteRuns) {
  FaultHarness harness;
  RecordingHttpServer& server = harness.server;
  server.ServeStalled("/kill-load/",
                      "<html><body><form action='/kill-load/post' method='post'>"
                      "<input name='t'><input type='submit'></form><p>more");
  server.Serve("/kill-script/",
               FormPage("/kill-script/post") +
                   "<script>const x = new XMLHttpRequest(); x.open('GET', '/kill-script/held',"
                   " false); x.send();</script>");
  HeldResponse heldScript(server, "/kill-script/held", "");
  server.Serve("/kill-post/", FormPage("/kill-post/post"));
  HeldResponse heldPost(server, "/kill-post/post", kThanks);
  for (const char* site : {"kill-load", "kill-script", "kill-post"})
    harness.AddSite(site, server.Url("/" + std::string(site) + "/"), FormScript());
  harness.AddFormSite("ok");
  harness.AddSchedule(1, "Killed", {"kill-load", "kill-script", "kill-post", "ok"});
  harness.AddSentinel();

  harness.Start(3000);
  // The server holds each request until the web process waiting for it is gone.
  for (const char* path : {"/kill-load/", "/kill-script/held", "/kill-post/post"}) {
    ASSERT_TRUE(harness.WaitFor([&] { return harness.Requests(path) > 0; })) << path;
    EXPECT_GE(harness.KillWebProcesses(), 1) << path;
  }
  heldScript.Open();
  heldPost.Open();
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  const std::map<std::string, std::string> expected = {{"kill-load", "Timeout"},
                                                       {"kill-script", "Timeout"},
                                                       {"kill-post", "Timeout"},
                                                       {"ok", "Completed"}};
  EXPECT_EQ(expected, harness.Outcomes("Killed")) << harness.Report("Killed");
  EXPECT_EQ(1, harness.HistoryRows("Killed"));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  EXPECT_EQ(1, harness.Requests("/kill-post/post")) << "a post must never be replayed";
  EXPECT_EQ(1, harness.Requests("/ok/post"));
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

TEST(FaultWebProcess, EndlessScriptLoopEndsItsSiteAndTheProcessIsReplaced) {
  FaultHarness harness;
  harness.server.Serve("/loop/", FormPage("/loop/post") + "<script>for (;;) {}</script>");
  harness.AddSite("loop", harness.server.Url("/loop/"), FormScript());
  harness.AddFormSite("ok");
  harness.AddSchedule(1, "Looping", {"loop", "ok"});
  harness.AddSentinel();

  // The browser takes a web process for hung after 15 s without an answer;
  // the page timer is longer, as the service's own five minutes are.
  harness.Start(25000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, std::chrono::seconds(180)));

  const std::map<std::string, std::string> expected = {{"loop", "Timeout"}, {"ok", "Completed"}};
  EXPECT_EQ(expected, harness.Outcomes("Looping")) << harness.Report("Looping");
  EXPECT_EQ(1, harness.HistoryRows("Looping"));
  EXPECT_EQ(0, harness.Requests("/loop/post"));
  EXPECT_EQ(1, harness.Requests("/ok/post"));
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// The page is read and its form sent; then its script loops for ever. The
// hung process is found while its own site runs, traced against that site,
// and the next site loads in a fresh one without a probe of the hung one.
TEST(FaultWebProcess, ProcessHungAfterItsPageWasReadIsReplacedWhileItsSiteRuns) {
  FaultHarness harness;
  const std::string hangs =
      "<script>addEventListener('load', () => setTimeout(() => { for (;;) {} }, 0));</script>";
  harness.server.Serve("/hang/", FormPage("/hang/post", "", "", hangs));
  harness.server.Serve("/hang/post", kThanks);
  harness.AddSite("hang", harness.server.Url("/hang/"), FormScript());
  harness.AddFormSite("ok");
  harness.AddSchedule(1, "Hung", {"hang", "ok"});
  harness.AddSentinel();

  // The probe finds the hang within seconds, well inside the page timer.
  harness.Start(12000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel", 1, std::chrono::seconds(180)));

  const std::map<std::string, std::string> expected = {{"hang", "Timeout"}, {"ok", "Completed"}};
  EXPECT_EQ(expected, harness.Outcomes("Hung")) << harness.Report("Hung");
  EXPECT_EQ(1, harness.TraceCount("Error while navigate " + harness.server.Url("/hang/")));
  EXPECT_EQ(1, harness.TraceCount("[site: hang]")) << harness.Trace();
  EXPECT_EQ(0, harness.TraceCount("Error while navigate " + harness.server.Url("/ok/")))
      << harness.Trace();
  EXPECT_TRUE(harness.KillLeavesNothing());
}

}  // namespace
}  // namespace veltrane::testing
