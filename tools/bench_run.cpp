#include "tools/bench_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "storage/database_setup.h"
#include "storage/stores.h"

extern char** environ;

namespace veltrane::bench {
namespace {

using std::chrono::milliseconds;

double Ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// db/ with the tables, one press release, the sites (and their logins) and
// one daily schedule whose next run lies long past.
void MakeDatabases(const std::string& work, SiteKind kind, int sites, const BenchFarm& farm) {
  std::filesystem::create_directories(work + "/db");
  const DatabasePaths paths{work + "/db/vt.dat", work + "/db/subscription2.dat", ""};
  CreateTables(paths.main, DatabaseFile::Main, SqliteStoreOptions{}.busyWait);
  CreateTables(paths.subscription, DatabaseFile::Subscription, SqliteStoreOptions{}.busyWait);
  PressRelease release;
  release.Name = "Bench";
  release.CompanyName = "Acme";
  release.Country = "Germany";
  release.Email = "news@acme.test";
  release.Headline = "Acme ships the widget";
  release.NewsBody = "Line one\r\nLine two";
  release.Category = "Business";
  MakePressReleaseStore(paths)->Add(release);

  const std::unique_ptr<SiteStore> store = MakeSiteStore(paths);
  std::vector<std::string> list;
  for (int site = 0; site < sites; ++site) {
    const std::string name = SiteName(kind, site);
    list.push_back(name);
    if (kind == SiteKind::Flow) store->SetAccount(name, "acme", "s3cret");
    store->Add(name, farm.Url(StartPath(kind, site)), SiteScript(kind));
  }
  MakeScheduleStore(paths)->Add({"Bench", list, 1, 0.25, 1});
}

pid_t Spawn(const std::string& executable, const std::string& work,
            const std::string& argument = {}) {
  std::vector<std::string> texts;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    if (text.rfind("XDG_RUNTIME_DIR=", 0) && text.rfind("XDG_CACHE_HOME=", 0) &&
        text.rfind("XDG_DATA_HOME=", 0))
      texts.push_back(text);
  }
  // A lock, cache and data folder of the run's own: runs neither see each
  // other's single-instance lock nor share a cache.
  for (const char* folder : {"run", "cache", "data"}) {
    std::filesystem::create_directories(work + "/" + folder);
    chmod((work + "/" + folder).c_str(), 0700);
  }
  texts.push_back("XDG_RUNTIME_DIR=" + work + "/run");
  texts.push_back("XDG_CACHE_HOME=" + work + "/cache");
  texts.push_back("XDG_DATA_HOME=" + work + "/data");
  std::vector<char*> envp;
  for (std::string& text : texts) envp.push_back(text.data());
  envp.push_back(nullptr);
  const std::string log = work + "/service.log";

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, STDERR_FILENO);
    if (chdir(work.c_str()) != 0) _exit(127);
    std::string program = executable, first = argument;
    char* argv[] = {program.data(), argument.empty() ? nullptr : first.data(), nullptr};
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  setpgid(pid, pid);
  return pid;
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

struct ProcessEntry {
  long pid = 0;
  long parent = 0;
  long group = 0;
  std::string command;
  std::filesystem::path path;
};

// The live processes of the system, from /proc.
std::vector<ProcessEntry> LiveProcesses() {
  std::vector<ProcessEntry> processes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream statFile(entry.path() / "stat");
    std::string stat;
    if (!std::getline(statFile, stat)) continue;
    const std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    ProcessEntry process;
    process.pid = std::stol(name);
    process.command = stat.substr(open + 1, close - open - 1);
    process.path = entry.path();
    std::istringstream rest(stat.substr(close + 2));
    char state = 0;
    rest >> state >> process.parent >> process.group;
    if (state != 'Z') processes.push_back(std::move(process));
  }
  return processes;
}

// The resident memory of the service's live processes, by kind: those of its
// group, and any descendant that left the group.
Sample MeasureGroup(pid_t group) {
  Sample sample;
  sample.at = Clock::now();
  const long pageKb = sysconf(_SC_PAGESIZE) / 1024;
  const std::vector<ProcessEntry> processes = LiveProcesses();
  std::map<long, long> parents;
  for (const ProcessEntry& process : processes) parents[process.pid] = process.parent;
  const auto descends = [&](long pid) {
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
      if (pid == group) return true;
      const auto parent = parents.find(pid);
      if (parent == parents.end()) return false;
      pid = parent->second;
    }
    return false;
  };
  for (const ProcessEntry& process : processes) {
    if (process.group != group && !descends(process.pid)) continue;
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

RunResult RunService(const std::string& binary, SiteKind kind, int sites, BenchFarm& farm,
                     const std::string& work, int lanes) {
  RunResult result;
  MakeDatabases(work, kind, sites, farm);
  const std::string executable = work + "/veltrane";
  std::filesystem::copy_file(binary, executable);
  // The farm's sites all answer on 127.0.0.1 but stand for distinct hosts: the
  // limit per host must not hold the lanes back.
  if (lanes > 0)
    std::ofstream(work + "/veltrane.conf")
        << "parallel_sites = " << lanes << "\nparallel_per_host = " << lanes << "\n";
  farm.ClearLog();

  const Clock::time_point started = Clock::now();
  const pid_t pid = Spawn(executable, work);
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
  const bool large = kind == SiteKind::Large || kind == SiteKind::LargeFloor;
  // A site asks its pages one after another, each held back by the farm's latency.
  const Clock::time_point bound =
      started + std::chrono::seconds(60 + sites * (large ? 5 : 1)) + sites * 8 * farm.Latency();
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
  const pid_t pid = Spawn(binary, work, farm.Url(StartPath(SiteKind::Form, 0)));
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
