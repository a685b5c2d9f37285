#include "tools/bench_shared.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_stores.h"
#include "tools/bench_clients.h"
#include "tools/bench_process.h"
#include "tools/bench_run.h"
#include "tools/bench_store.h"
#include "tools/postgres_server.h"

namespace veltrane::bench {
namespace {

double Ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The server's schema and the benchmark's job on it; "" or why not.
std::string PrepareServer(PostgresServer& server, std::string& url, SiteKind kind, int sites,
                          const BenchFarm& farm) {
  if (!server.Running()) return "no PostgreSQL server: " + server.Error();
  url = server.CreateDatabase("veltrane");
  if (url.empty()) return "cannot create the database: " + server.Error();
  try {
    CreatePgSchema(url);
    WriteBenchJob({"", "", url}, kind, sites, farm);
  } catch (const std::exception& error) {
    return std::string("cannot write the job to the server: ") + error.what();
  }
  return "";
}

// Waits for the job's history row; "" or why the run ended without it.
std::string AwaitHistoryRow(const std::string& url, const std::vector<pid_t>& groups,
                            const std::vector<std::string>& folders, Clock::time_point bound) {
  try {
    PgDatabase server(url);
    while (server.Execute("SELECT count(*) FROM history").Integer(0, 0) == 0) {
      for (std::size_t i = 0; i < groups.size(); ++i)
        if (waitpid(groups[i], nullptr, WNOHANG) == groups[i])
          return "an instance ended early; see " + folders[i] + "/service.log";
      if (Clock::now() > bound) return "no history row in time; see " + folders[0] + "/service.log";
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  } catch (const std::exception& error) {
    return std::string("the server failed: ") + error.what();
  }
  return "";
}

}  // namespace

SharedRunResult RunSharedStore(const std::string& binary, SiteKind kind, int sites, BenchFarm& farm,
                               const std::string& work, int instances, int lanes) {
  SharedRunResult result;
  PostgresServer server;
  std::string url;
  result.error = PrepareServer(server, url, kind, sites, farm);
  if (!result.error.empty()) return result;

  std::vector<std::string> folders;
  for (int i = 1; i <= instances; ++i) {
    folders.push_back(work + "/instance" + std::to_string(i));
    std::filesystem::create_directories(folders.back() + "/db");
    std::filesystem::copy_file(binary, folders.back() + "/veltrane");
    WriteLanes(folders.back(), lanes);
  }
  farm.ClearLog();

  const Clock::time_point started = Clock::now();
  std::vector<pid_t> groups;
  for (const std::string& folder : folders)
    groups.push_back(
        SpawnInFolder(folder + "/veltrane", folder,
                      {"VELTRANE_DATABASE_URL=" + url, "VELTRANE_POLL_INTERVAL_MS=300"}));
  ClientOwners owners(farm.Port(), groups);
  result.error = AwaitHistoryRow(url, groups, folders, started + JobBound(kind, sites, farm));
  const Clock::time_point historyRow = Clock::now();
  for (const pid_t group : groups) kill(-group, SIGKILL);
  for (const pid_t group : groups) waitpid(group, nullptr, 0);

  // Which sites fetched their answer, when, and over whose connection.
  std::vector<bool> answered(static_cast<std::size_t>(sites), false);
  result.sitesByInstance.assign(static_cast<std::size_t>(instances), 0);
  Clock::time_point lastAnswer = started;
  for (const FarmLogEntry& entry : farm.Log()) {
    const PageVisit visit = VisitOf(entry.method, entry.path);
    if (!visit.answer || visit.site < 0 || visit.site >= sites ||
        answered[static_cast<std::size_t>(visit.site)])
      continue;
    answered[static_cast<std::size_t>(visit.site)] = true;
    ++result.sites;
    lastAnswer = std::max(lastAnswer, entry.answered);
    const int owner = owners.OwnerOf(entry.clientPort, entry.answered);
    if (owner < 0)
      ++result.sitesUnattributed;
    else
      ++result.sitesByInstance[static_cast<std::size_t>(owner)];
  }
  if (result.error.empty() && result.sites < sites)
    result.error = "the job ended with " + std::to_string(result.sites) + " of " +
                   std::to_string(sites) + " sites answered; see " + work;
  if (result.error.empty()) {
    result.wallMs = Ms(historyRow - started);
    result.lastAnswerMs = Ms(lastAnswer - started);
  }
  return result;
}

}  // namespace veltrane::bench
