#include "tests/support/fault_harness.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "tests/support/fault_host.h"

namespace veltrane::testing {

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

namespace {

std::string ServiceBinary() {
  const char* other = std::getenv("VELTRANE_FAULT_BINARY");
  return other && *other ? other : VELTRANE_BINARY;
}

}  // namespace

std::string FormPage(const std::string& action, const std::string& before,
                     const std::string& formAttributes, const std::string& head) {
  return "<!DOCTYPE html><html><head><meta charset='utf-8'>" + head + "</head><body>" + before +
         "<form action='" + action + "' method='post' " + formAttributes +
         "><input name='t'><input type='submit' value='Send'></form></body></html>";
}

std::string FormScript() {
  return "[STEP1]\nAPP-FormPos=0\nt=$$headline$$\n[STEP2]\nAPP-SuccessString=" +
         std::string(kThanks) + "\n";
}

FaultHarness::FaultHarness() : service(ServiceBinary(), databases.Directory()) {}

FaultHarness::~FaultHarness() {
  if (::testing::Test::HasFailure())
    std::fprintf(stderr, "--- service trace ---\n%s", service.ErrorLog().c_str());
}

void FaultHarness::AddSchedule(int id, const std::string& pressRelease,
                               const std::vector<std::string>& sites, double next) {
  std::string list;
  for (const std::string& site : sites) list += site + "\r\n";
  databases.Main("INSERT OR IGNORE INTO pressrelease (name,contact_data,headline) VALUES (" +
                 Quoted(pressRelease) + ",'company_name=Acme\r\n','Acme news');" +
                 "INSERT INTO schedule (id,name,subscription,frequency,time,next) VALUES (" +
                 std::to_string(id) + "," + Quoted(pressRelease) + "," + Quoted(list) + ",1,0," +
                 std::to_string(next) + ")");
}

void FaultHarness::AddSite(const std::string& name, const std::string& url,
                           const std::string& script) {
  databases.Subscription("INSERT INTO subscription (name,url,submission_data) VALUES (" +
                         Quoted(name) + "," + Quoted(url) + "," + Quoted(script) + ")");
}

void FaultHarness::AddFormSite(const std::string& name) {
  server.Serve("/" + name + "/", FormPage("/" + name + "/post"));
  server.Serve("/" + name + "/post", std::string(kThanks) + " from " + name);
  AddSite(name, server.Url("/" + name + "/"), FormScript());
}

void FaultHarness::AddSentinel() {
  AddFormSite("sentinel");
  AddSchedule(99, "Sentinel", {"sentinel"}, 2);
}

void FaultHarness::Start(int pageTimeoutMs, int pollIntervalMs,
                         std::map<std::string, std::string> environment) {
  environment["VELTRANE_PAGE_TIMEOUT_MS"] = std::to_string(pageTimeoutMs);
  environment["VELTRANE_POLL_INTERVAL_MS"] = std::to_string(pollIntervalMs);
  service.StartInOwnGroup(environment);
}

bool FaultHarness::WaitFor(const std::function<bool()>& done, std::chrono::seconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if (done()) return true;
    if (!service.Running() || std::chrono::steady_clock::now() > end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool FaultHarness::WaitUntilShown() {
  return WaitFor([this] { return ShowsWindow(service.Pid(), "View "); }, std::chrono::seconds(60));
}

bool FaultHarness::WaitForHistory(const std::string& pressRelease, int rows,
                                  std::chrono::seconds bound) {
  return WaitFor([&] { return HistoryRows(pressRelease) >= rows; }, bound);
}

int FaultHarness::HistoryRows(const std::string& pressRelease) const {
  const std::string count =
      databases.MainScalar("SELECT count(*) FROM history WHERE name = " + Quoted(pressRelease));
  return count.empty() ? 0 : std::stoi(count);
}

std::string FaultHarness::Report(const std::string& pressRelease) const {
  return databases.MainScalar("SELECT content FROM history WHERE name = " + Quoted(pressRelease) +
                              " ORDER BY rowid DESC LIMIT 1");
}

std::map<std::string, std::string> FaultHarness::Outcomes(const std::string& pressRelease) const {
  std::map<std::string, std::string> outcomes;
  std::istringstream lines(Report(pressRelease));
  std::string line;
  bool failed = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("Failed submission", 0) == 0) failed = true;
    if (line.rfind(" - ", 0) != 0) continue;
    std::string site = line.substr(3);
    std::string outcome = "Completed";
    if (failed) {
      // " - name (reason)"; a reason may hold parentheses of its own.
      const auto open = site.find(" (");
      outcome = open == std::string::npos ? "" : site.substr(open + 2, site.size() - open - 3);
      site = site.substr(0, open);
    }
    const bool again = outcomes.count(site) > 0;
    outcomes[site] = again ? "listed again" : outcome;
  }
  return outcomes;
}

int FaultHarness::TraceCount(const std::string& text) const {
  std::istringstream lines(service.ErrorLog());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) count += line.find(text) != std::string::npos;
  return count;
}

PathCounts FaultHarness::PostedTwice() const {
  PathCounts posts;
  for (const RecordedRequest& request : server.Requests())
    if (request.method == "POST") ++posts[request.path];
  std::erase_if(posts, [](const auto& entry) { return entry.second < 2; });
  return posts;
}

int FaultHarness::KillWebProcesses() {
  int killed = 0;
  for (const ServiceProcess::GroupMember& member : service.GroupMembers()) {
    // The name is cut to 15 characters: "WebKitWebProces".
    if (member.name.rfind("WebKitWebProces", 0) != 0) continue;
    kill(member.pid, SIGKILL);
    ++killed;
  }
  return killed;
}

bool FaultHarness::KillLeavesNothing() {
  return service.KillAndAwaitEmptyGroup(std::chrono::seconds(15));
}

}  // namespace veltrane::testing
