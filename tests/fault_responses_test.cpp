// The built service against servers that answer badly or not at all. A page
// that never completes ends its site with "Timeout"; a failed load shows the
// browser's error page, on which the form step finds no form ("Invalid
// form"); an HTTP error page is handled like any page. The next site and the
// next schedule run, and the job leaves one history row.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/fault_harness.h"
#include "tests/support/fault_servers.h"

namespace veltrane::testing {
namespace {

TEST(FaultResponses, EverySiteEndsWithItsReasonAndTheNextOnesRun) {
  FaultHarness harness;
  RawFaultServer raw;
  raw.Set("/never", RawFaultServer::Fault::Silent);
  raw.Set("/closed", RawFaultServer::Fault::Close);
  raw.Set("/reset", RawFaultServer::Fault::Reset);
  UntrustedTlsServer secure(FormPage("/post"));
  std::string refused;
  {
    RecordingHttpServer gone;
    refused = gone.Url("/refused");
  }
  RecordingHttpServer& server = harness.server;
  server.ServeStalled("/stalled/",
                      "<html><body><form action='/stalled/post' method='post'>"
                      "<input name='t'><input type='submit'></form><p>more to come");
  server.Handle("/loop/a", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/loop/b");
  });
  server.Handle("/loop/b", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/loop/a");
  });
  server.Serve("/empty", "", "text/html", 204);
  server.Serve("/missing", "<html><body>Nothing here</body></html>", "text/html", 404);
  server.Serve("/broken", "<html><body>Internal error</body></html>", "text/html", 500);

  const std::vector<std::pair<std::string, std::string>> sites = {
      {"never", raw.Url("/never")},
      {"refused", refused},
      {"stalled", server.Url("/stalled/")},
      {"closed", raw.Url("/closed")},
      {"reset", raw.Url("/reset")},
      {"redirect-loop", server.Url("/loop/a")},
      {"no-content", server.Url("/empty")},
      {"not-found", server.Url("/missing")},
      {"server-error", server.Url("/broken")},
      {"self-signed", secure.Url("/")}};
  std::vector<std::string> names;
  for (const auto& [name, url] : sites) {
    harness.AddSite(name, url, FormScript());
    names.push_back(name);
  }
  harness.AddFormSite("ok");
  names.push_back("ok");
  harness.AddSchedule(1, "Responses", names);
  harness.AddSentinel();

  harness.Start(3000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  const std::map<std::string, std::string> expected = {{"never", "Timeout"},
                                                       {"refused", "Invalid form"},
                                                       {"stalled", "Timeout"},
                                                       {"closed", "Invalid form"},
                                                       {"reset", "Invalid form"},
                                                       {"redirect-loop", "Invalid form"},
                                                       {"no-content", "Timeout"},
                                                       {"not-found", "Invalid form"},
                                                       {"server-error", "Invalid form"},
                                                       {"self-signed", "Invalid form"},
                                                       {"ok", "Completed"}};
  EXPECT_EQ(expected, harness.Outcomes("Responses")) << harness.Report("Responses");
  EXPECT_EQ(1, harness.HistoryRows("Responses"));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
  EXPECT_EQ(1, harness.Requests("/ok/post"));
  EXPECT_EQ(0, secure.Requests()) << "nothing may pass an untrusted certificate";
  EXPECT_GE(raw.Requests("/never"), 1);
  EXPECT_EQ(PathCounts{}, harness.PostedTwice());
  EXPECT_TRUE(harness.KillLeavesNothing());
}

// The trace line right after the first that contains `text`; "" when none.
std::string LineAfter(const std::string& trace, const std::string& text) {
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.find(text) == std::string::npos) continue;
    return std::getline(lines, line) ? line : "";
  }
  return "";
}

// A network failure keeps its specified reason and trace line, and the
// engine's own message follows that line and is kept with the site's evidence.
TEST(FaultResponses, NetworkErrorsSayWhatTheyWere) {
  FaultHarness harness;
  RawFaultServer raw;
  raw.Set("/reset", RawFaultServer::Fault::Reset);
  std::string refused;
  {
    RecordingHttpServer gone;
    refused = gone.Url("/refused");
  }
  const std::map<std::string, std::string> sites = {
      {"refused", refused},
      {"reset", raw.Url("/reset")},
      {"unknown-host", "http://veltrane-nowhere.invalid/login"}};
  std::vector<std::string> names;
  for (const auto& [name, url] : sites) {
    harness.AddSite(name, url, FormScript());
    names.push_back(name);
  }
  harness.AddSchedule(1, "Unreachable", names);
  harness.AddSentinel();

  harness.Start(5000);
  ASSERT_TRUE(harness.WaitForHistory("Sentinel"));

  const std::map<std::string, std::string> expected = {
      {"refused", "Invalid form"}, {"reset", "Invalid form"}, {"unknown-host", "Invalid form"}};
  EXPECT_EQ(expected, harness.Outcomes("Unreachable")) << harness.Report("Unreachable");
  const std::string trace = harness.Trace();
  for (const auto& [name, url] : sites) {
    const std::string stored = harness.databases.MainScalar(
        "SELECT network_error FROM job_site WHERE site = " + Quoted(name));
    EXPECT_FALSE(stored.empty()) << name;
    EXPECT_EQ("0", harness.databases.MainScalar("SELECT last_status FROM job_site WHERE site = " +
                                                Quoted(name)))
        << name;
    EXPECT_NE(std::string::npos, LineAfter(trace, "Error while navigate " + url + " code:")
                                     .find("Network error: " + stored + " [site: " + name + "]"))
        << name << ": " << stored;
  }
  EXPECT_NE(
      std::string::npos,
      harness.databases.MainScalar("SELECT network_error FROM job_site WHERE site = 'refused'")
          .find("Connection refused"));
  EXPECT_EQ(1, harness.HistoryRows("Sentinel"));
}

}  // namespace
}  // namespace veltrane::testing
