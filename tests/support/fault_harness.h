// FaultHarness: the built service run against misbehaving sites, for the
// fault suite. It holds the service's databases, a recording HTTP server for
// the well-behaved pages, and the service copy, started in a process group of
// its own with a short page timer and poll interval. Every wait polls the
// databases, the recorded requests or the service's trace within a generous
// bound, and gives up early when the service has died. The service is the
// build's own binary, or the one named by $VELTRANE_FAULT_BINARY (to run the
// suite against another build).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/recording_http_server.h"
#include "tests/support/service_process.h"
#include "tests/support/test_database.h"

namespace veltrane::testing {

// Request paths with a count.
using PathCounts = std::map<std::string, int>;

// The success text of every answer page a form site gives.
inline constexpr const char* kThanks = "Thank you";

// A form page posting field `t` to `action` (target and the like in
// `formAttributes`), with `before` ahead of the form and `head` in the head.
std::string FormPage(const std::string& action, const std::string& before = "",
                     const std::string& formAttributes = "", const std::string& head = "");

// Step 1 fills field `t` of form 0 and submits it, step 2 looks for kThanks.
std::string FormScript();

// The text as an SQL string literal: between single quotes, inner ones doubled.
std::string Quoted(const std::string& text);

class FaultHarness {
 public:
  FaultHarness();
  // Prints the service's trace when the test has failed.
  ~FaultHarness();

  // A press release of that name, and a schedule of it over `sites` whose next
  // run is the day number `next` (1 is long past).
  void AddSchedule(int id, const std::string& pressRelease, const std::vector<std::string>& sites,
                   double next = 1);
  void AddSite(const std::string& name, const std::string& url, const std::string& script);
  // A well-behaved site on the recording server: /<name>/ holds FormPage, its
  // post is answered kThanks. Its script is FormScript().
  void AddFormSite(const std::string& name);
  // Schedule 99, due after the others: a press release "Sentinel" to one
  // well-behaved site. Its history row proves that the schedules before it
  // ran to their end and that the service took up the next one.
  void AddSentinel();

  // Starts the service with these timer periods in milliseconds, and these
  // entries added to its environment.
  void Start(int pageTimeoutMs, int pollIntervalMs = 1000,
             std::map<std::string, std::string> environment = {});
  // True once `done` holds; false when `bound` passed or the service died.
  bool WaitFor(const std::function<bool()>& done,
               std::chrono::seconds bound = std::chrono::seconds(120));
  // Waits for the service's browser window: its threads are started then.
  bool WaitUntilShown();
  bool WaitForHistory(const std::string& pressRelease, int rows = 1,
                      std::chrono::seconds bound = std::chrono::seconds(120));

  int HistoryRows(const std::string& pressRelease) const;
  // The report of the press release's latest history row.
  std::string Report(const std::string& pressRelease) const;
  // Each site the report lists, with "Completed" or its failure reason; a
  // site listed more than once is marked "listed again".
  std::map<std::string, std::string> Outcomes(const std::string& pressRelease) const;
  // How many trace lines of the service contain `text`.
  int TraceCount(const std::string& text) const;
  std::string Trace() const { return service.ErrorLog(); }
  int Requests(const std::string& path) const {
    return static_cast<int>(server.RequestsTo(path).size());
  }
  // Paths that were posted to more than once, with their counts.
  PathCounts PostedTwice() const;

  // SIGKILLs the service's web processes; how many there were.
  int KillWebProcesses();
  // Kills the service and checks that nothing it started outlives it.
  bool KillLeavesNothing();

  TestDatabases databases;
  RecordingHttpServer server;
  ServiceProcess service;
};

}  // namespace veltrane::testing
