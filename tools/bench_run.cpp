#include "tools/bench_run.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "storage/database_setup.h"
#include "storage/sqlite_stores.h"
#include "tools/bench_process.h"
#include "tools/bench_store.h"

namespace veltrane::bench {
namespace {

using std::chrono::milliseconds;

double Ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// db/ with the tables of both files and the benchmark's job in them.
void MakeDatabases(const std::string& work, SiteKind kind, int sites, const BenchFarm& farm) {
  std::filesystem::create_directories(work + "/db");
  const DatabasePaths paths{work + "/db/vt.dat", work + "/db/subscription2.dat", ""};
  CreateTables(paths.main, DatabaseFile::Main, SqliteStoreOptions{}.busyWait);
  CreateTables(paths.subscription, DatabaseFile::Subscription, SqliteStoreOptions{}.busyWait);
  WriteBenchJob(paths, kind, sites, farm);
}

struct Sample {
  Clock::time_point at;
  std::map<std::string, double> kb;
  double totalKb = 0;
  double totalPssKb = 0;
};

// A process's proportional set size in KB, 0 when it cannot be read.
double PssKb(const std::filesystem::path& process) {
  std::ifstream rollup(process / "smaps_rollup");
  std::string key;
  double kb = 0;
  while (rollup >> key) {
    if (key == "Pss:" && rollup >> kb) return kb;
    rollup.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
  return 0;
}

// The resident memory of the service's live processes, by kind: those of its
// group, and any descendant that left the group.
Sample MeasureGroup(pid_t group) {
  Sample sample;
  sample.at = Clock::now();
  const long pageKb = sysconf(_SC_PAGESIZE) / 1024;
  for (const ProcessEntry& process : ProcessTree(group, LiveProcesses())) {
    std::ifstream statm(process.path / "statm");
    long size = 0, resident = 0;
    if (!(statm >> size >> resident)) continue;
    const double kb = static_cast<double>(resident * pageKb);
    std::string kind = "other";
    if (process.pid == group)
      kind = "UI";
    else if (process.command.rfind("WebKitWebProces", 0) == 0)
      kind = "web";
    else if (process.command.rfind("WebKitNetworkPr", 0) == 0)
      kind = "network";
    sample.kb[kind] += kb;
    sample.totalKb += kb;
    sample.totalPssKb += PssKb(process.path);
  }
  return sample;
}

// Least-squares slope of y over x.
double Slope(const std::vector<std::pair<double, double>>& points) {
  if (points.size() < 2) return 0;
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const auto& [x, y] : points) {
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  const double n = static_cast<double>(points.size());
  const double denominator = n * sxx - sx * sx;
  return denominator == 0 ? 0 : (n * sxy - sx * sy) / denominator;
}

}  // namespace

void WriteLanes(const std::string& work, int lanes) {
  // The farm's sites all answer on 127.0.0.1 but stand for distinct hosts: the
  // limit per host must not hold the lanes back.
  std::ofstream(work + "/veltrane.conf")
      << "parallel_sites = " << lanes << "\nparallel_per_host = " << lanes << "\n";
}

Clock::duration JobBound(SiteKind kind, int sites, const BenchFarm& farm) {
  const bool large = kind == SiteKind::Large || kind == SiteKind::LargeFloor;
  // A site asks its pages one after another, each held back by the farm's latency.
  return std::chrono::seconds(60 + sites * (large ? 5 : 1)) + sites * 8 * farm.Latency();
}

RunResult RunService(const std::string& binary, SiteKind kind, int sites, BenchFarm& farm,
                     const std::string& work, int lanes) {
  RunResult result;
  MakeDatabases(work, kind, sites, farm);
  const std::string executable = work + "/veltrane";
  std::filesystem::copy_file(binary, executable);
  if (lanes > 0) WriteLanes(work, lanes);
  farm.ClearLog();

  const Clock::time_point started = Clock::now();
  const pid_t pid = SpawnInFolder(executable, work);
  std::vector<Sample> samples;
  std::atomic<bool> sampling{true};
  std::thread sampler([&] {
    while (sampling) {
      samples.push_back(MeasureGroup(pid));
      std::this_thread::sleep_for(milliseconds(200));
    }
  });

  // Waits for every site's answer, reading only what was logged since the last look.
  std::size_t seen = 0;
  std::vector<bool> answered(static_cast<std::size_t>(sites), false);
  int answers = 0;
  const auto allAnswered = [&](const std::vector<FarmLogEntry>& log) {
    for (; seen < log.size(); ++seen) {
      const PageVisit visit = VisitOf(log[seen].method, log[seen].path);
      if (visit.answer && visit.site >= 0 && visit.site < sites &&
          !answered[static_cast<std::size_t>(visit.site)]) {
        answered[static_cast<std::size_t>(visit.site)] = true;
        ++answers;
      }
    }
    return answers == sites;
  };
  const Clock::time_point bound = started + JobBound(kind, sites, farm);
  bool exited = false;
  while (!farm.WaitFor(allAnswered, milliseconds(500))) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      result.error = "the service ended early; see " + work + "/service.log";
      break;
    }
    if (Clock::now() > bound) {
      result.error = "not every site was answered in time; see " + work + "/service.log";
      break;
    }
  }
  sampling = false;
  sampler.join();
  samples.push_back(MeasureGroup(pid));
  kill(-pid, SIGKILL);
  if (!exited) waitpid(pid, nullptr, 0);

  // The figures, from the farm's log.
  const std::vector<FarmLogEntry> log = farm.Log();
  result.sites = answers;
  std::vector<Clock::time_point> siteStarts(static_cast<std::size_t>(sites),
                                            Clock::time_point::max());
  Clock::time_point firstRequest = Clock::time_point::max(), lastAnswer = started;
  for (std::size_t i = 0; i < log.size(); ++i) {
    const PageVisit visit = VisitOf(log[i].method, log[i].path);
    if (visit.site < 0 || visit.site >= sites) continue;
    firstRequest = std::min(firstRequest, log[i].received);
    auto& siteStart = siteStarts[static_cast<std::size_t>(visit.site)];
    if (visit.start) siteStart = std::min(siteStart, log[i].received);
    if (visit.answer) lastAnswer = std::max(lastAnswer, log[i].answered);
    if (i + 1 < log.size())
      result.gapMs[visit.page].push_back(Ms(log[i + 1].received - log[i].answered));
  }
  if (firstRequest == Clock::time_point::max()) return result;
  result.startupMs = Ms(firstRequest - started);
  // A job's length only when it ran to its end.
  if (result.error.empty()) {
    result.wallMs = Ms(lastAnswer - started);
    result.jobMs = Ms(lastAnswer - firstRequest);
  }
  for (std::size_t site = 0; site + 1 < siteStarts.size(); ++site) {
    if (siteStarts[site] == Clock::time_point::max() ||
        siteStarts[site + 1] == Clock::time_point::max())
      break;
    result.siteMs.push_back(Ms(siteStarts[site + 1] - siteStarts[site]));
  }

  // Memory over the job: from the first request to the last answer. Growth
  // is the slope over sites started, leaving out the first tenth (warm-up).
  const int warmUp = std::max(1, sites / 10);
  std::map<std::string, std::vector<std::pair<double, double>>> points;
  for (const Sample& sample : samples) {
    if (sample.at < firstRequest || sample.at > lastAnswer + milliseconds(250)) continue;
    const auto begun =
        static_cast<int>(std::count_if(siteStarts.begin(), siteStarts.end(),
                                       [&](Clock::time_point at) { return at <= sample.at; }));
    result.treePeakKb = std::max(result.treePeakKb, sample.totalKb);
    result.treePeakPssKb = std::max(result.treePeakPssKb, sample.totalPssKb);
    for (const auto& [process, kb] : sample.kb) {
      MemoryFigures& figures = result.memory[process];
      if (figures.startKb == 0) figures.startKb = kb;
      figures.peakKb = std::max(figures.peakKb, kb);
      figures.endKb = kb;
      if (begun >= warmUp) points[process].emplace_back(begun, kb);
    }
  }
  for (auto& [process, figures] : result.memory) figures.growthKbPerSite = Slope(points[process]);
  return result;
}

RunResult RunStartFloor(const std::string& binary, BenchFarm& farm, const std::string& work) {
  RunResult result;
  farm.ClearLog();
  const Clock::time_point started = Clock::now();
  const pid_t pid = SpawnInFolder(binary, work, {}, farm.Url(StartPath(SiteKind::Form, 0)));
  const auto requested = [](const std::vector<FarmLogEntry>& log) { return !log.empty(); };
  if (farm.WaitFor(requested, milliseconds(30000)))
    result.startupMs = Ms(farm.Log().front().received - started);
  else
    result.error = "no request in time; see " + work + "/service.log";
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return result;
}

}  // namespace veltrane::bench
