// veltrane-bench: runs built service binaries against press-release sites on
// 127.0.0.1 and prints what a job costs them: milliseconds per site, the
// client's gap after each kind of page, start to first request, and the memory
// of the UI, web and network processes. Several binaries are run in turn,
// round after round (a, b, a, b, ...), and compared by their medians.
//
//   veltrane-bench [--rounds R] [--sites N] [--large-sites M] [--kinds k1,k2] [--keep]
//                  [--latency-ms L] [--lanes n1,n2] [--instances n1,n2] [LABEL=]SERVICE...
//
// Without a SERVICE it runs the service built with it.
// --latency-ms holds every answer of the farm back L ms, as distant sites
// would; connections wait side by side, so pages asked at once overlap.
// --lanes runs each service once per value, with "parallel_sites = <n>" and
// "parallel_per_host = <n>" in the veltrane.conf beside it, as columns "LABEL xN". With either
// option, each kind's job wall time (start-up included) and the process tree's peak memory are
// printed per run, side by side. Needs an X display (xvfb-run). Kinds: flow, form, form-floor,
// large, large-floor.
// --instances runs each kind's job as one schedule on a throw-away PostgreSQL server shared by
// n instances of each service, started together, once per value: the job's wall time (to its
// history row), the sites each instance's connections fetched, and each count's wall time over
// the fewest's. --lanes then gives one value, each instance's lanes (default 1).
// --keep leaves every run's folder (databases, service.log with the trace) in place.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tools/bench_farm.h"
#include "tools/bench_run.h"
#include "tools/bench_shared.h"
#include "tools/bench_sites.h"

namespace {

using namespace veltrane::bench;

struct Service {
  std::string label;
  std::string binary;
  int lanes = 0;             // parallel_sites in its veltrane.conf; 0: no veltrane.conf
  std::string service = {};  // the label given on the command line
};

struct Options {
  int rounds = 3;
  int sites = 500;
  int largeSites = 20;
  std::vector<SiteKind> kinds = AllSiteKinds();
  std::vector<Service> services;  // one per service and lanes value
  bool keep = false;
  int latencyMs = 0;
  std::vector<int> lanes;
  std::vector<int> instances;  // shared-store runs, one per count
  bool wallReport = false;     // --latency-ms or --lanes given
};

// "1,4,8" into {1, 4, 8}; false when a value is not a whole number from 1.
bool ParseCounts(const std::string& text, std::vector<int>& counts) {
  counts.clear();
  std::istringstream values(text);
  for (std::string value; std::getline(values, value, ',');) {
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return false;
    counts.push_back(std::atoi(value.c_str()));
    if (counts.back() < 1) return false;
  }
  return !counts.empty();
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double WindowMedian(const std::vector<double>& values, std::size_t from, std::size_t to) {
  to = std::min(to, values.size());
  if (from >= to) return 0;
  return Median({values.begin() + static_cast<long>(from), values.begin() + static_cast<long>(to)});
}

// Windows of 50 sites, medians, so that one stall of the machine does not
// pass for a trend.
constexpr std::size_t kEarlyFrom = 20;
constexpr std::size_t kWindow = 50;

double EarlyMs(const std::vector<double>& siteMs) {
  return WindowMedian(siteMs, kEarlyFrom, kEarlyFrom + kWindow);
}
double LateMs(const std::vector<double>& siteMs) {
  return WindowMedian(siteMs, siteMs.size() >= kWindow ? siteMs.size() - kWindow : 0,
                      siteMs.size());
}

// Per-site time of the last sites against sites 20 to 70: the late ones' excess in percent.
double Drift(const std::vector<double>& siteMs) {
  if (siteMs.size() < kEarlyFrom + 2 * kWindow) return 0;
  const double early = EarlyMs(siteMs);
  return early > 0 ? (LateMs(siteMs) / early - 1) * 100 : 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--rounds" && hasValue)
      options.rounds = std::atoi(argv[++i]);
    else if (arg == "--sites" && hasValue)
      options.sites = std::atoi(argv[++i]);
    else if (arg == "--large-sites" && hasValue)
      options.largeSites = std::atoi(argv[++i]);
    else if (arg == "--keep")
      options.keep = true;
    else if (arg == "--latency-ms" && hasValue) {
      options.latencyMs = std::atoi(argv[++i]);
      options.wallReport = true;
      if (options.latencyMs < 0) return false;
    } else if (arg == "--lanes" && hasValue) {
      if (!ParseCounts(argv[++i], options.lanes)) return false;
      options.wallReport = true;
    } else if (arg == "--instances" && hasValue) {
      if (!ParseCounts(argv[++i], options.instances)) return false;
    } else if (arg == "--kinds" && hasValue) {
      options.kinds.clear();
      std::istringstream names(argv[++i]);
      for (std::string name; std::getline(names, name, ',');) {
        SiteKind kind;
        if (!KindFromName(name, kind)) return false;
        options.kinds.push_back(kind);
      }
    } else if (!arg.empty() && arg[0] != '-') {
      const std::size_t equals = arg.find('=');
      Service service{arg, arg};
      if (equals != std::string::npos) service = {arg.substr(0, equals), arg.substr(equals + 1)};
      service.binary = std::filesystem::absolute(service.binary).string();
      options.services.push_back(service);
    } else {
      return false;
    }
  }
  if (options.services.empty()) options.services.push_back({"built", VELTRANE_BINARY});
  for (Service& service : options.services) service.service = service.label;
  if (!options.instances.empty()) {
    // Every instance of a shared-store run has the same lanes.
    if (options.lanes.size() > 1) return false;
    for (Service& service : options.services)
      service.lanes = options.lanes.empty() ? 1 : options.lanes.front();
  } else if (!options.lanes.empty()) {
    std::vector<Service> columns;
    for (const Service& service : options.services)
      for (int lanes : options.lanes)
        columns.push_back(
            {service.label + " x" + std::to_string(lanes), service.binary, lanes, service.label});
    options.services = std::move(columns);
  }
  return options.rounds > 0 && options.sites > 1 && options.largeSites > 1;
}

int SitesOf(const Options& options, SiteKind kind) {
  return kind == SiteKind::Large || kind == SiteKind::LargeFloor ? options.largeSites
                                                                 : options.sites;
}

using Results = std::map<SiteKind, std::map<std::string, std::vector<RunResult>>>;

// A row of one figure per service: the median over that service's runs.
void Row(const Options& options, const std::vector<RunResult>* const* runs, const std::string& name,
         const std::function<double(const RunResult&)>& figure, const char* format = "%12.1f") {
  std::printf("  %-36s", name.c_str());
  for (std::size_t s = 0; s < options.services.size(); ++s) {
    std::vector<double> values;
    for (const RunResult& run : *runs[s]) values.push_back(figure(run));
    std::printf(format, Median(values));
  }
  std::printf("\n");
}

void PrintKind(const Options& options, SiteKind kind,
               std::map<std::string, std::vector<RunResult>>& byService) {
  std::printf("\n%s: %d sites, %d runs per service", KindName(kind).c_str(), SitesOf(options, kind),
              options.rounds);
  if (options.latencyMs > 0) std::printf(", %d ms per response", options.latencyMs);
  std::printf(" (medians of runs)\n");
  std::printf("  %-36s", "");
  std::vector<const std::vector<RunResult>*> runs;
  for (const Service& service : options.services) {
    std::printf("%12s", service.label.substr(0, 11).c_str());
    runs.push_back(&byService[service.label]);
  }
  std::printf("\n");
  const auto* const* table = runs.data();
  Row(
      options, table, "sites answered", [](const RunResult& r) { return r.sites; }, "%12.0f");
  Row(options, table, "ms per site (median)", [](const RunResult& r) { return Median(r.siteMs); });
  Row(options, table, "ms per site, sites 20-70 (median)",
      [](const RunResult& r) { return EarlyMs(r.siteMs); });
  Row(options, table, "ms per site, last 50 (median)",
      [](const RunResult& r) { return LateMs(r.siteMs); });
  Row(options, table, "start to first request (ms)",
      [](const RunResult& r) { return r.startupMs; });
  std::vector<std::string> pages;
  for (const auto& run : *runs[0])
    for (const auto& [page, gaps] : run.gapMs)
      if (std::find(pages.begin(), pages.end(), page) == pages.end()) pages.push_back(page);
  for (const std::string& page : pages) {
    Row(options, table, "client gap after " + page + " (ms)", [&](const RunResult& r) {
      const auto found = r.gapMs.find(page);
      return found == r.gapMs.end() ? 0.0 : Median(found->second);
    });
  }
  for (const char* process : {"UI", "web", "network"}) {
    const auto memory = [process](const RunResult& r) {
      const auto found = r.memory.find(process);
      return found == r.memory.end() ? MemoryFigures{} : found->second;
    };
    const std::string name = process;
    Row(options, table, name + " MB at start",
        [&](const RunResult& r) { return memory(r).startKb / 1024; });
    Row(options, table, name + " MB at peak",
        [&](const RunResult& r) { return memory(r).peakKb / 1024; });
    Row(options, table, name + " MB at end",
        [&](const RunResult& r) { return memory(r).endKb / 1024; });
    Row(options, table, name + " growth (KB per site)",
        [&](const RunResult& r) { return memory(r).growthKbPerSite; });
  }
  Row(options, table, "all processes, MB at peak",
      [](const RunResult& r) { return r.treePeakKb / 1024; });
  Row(options, table, "all processes, MB at peak (PSS)",
      [](const RunResult& r) { return r.treePeakPssKb / 1024; });
}

// A kind's job wall time and the process tree's peak, run by run, side by
// side for every service and lanes value; then each lanes value against the
// fewest lanes of the same service.
void PrintWall(const Options& options, SiteKind kind,
               std::map<std::string, std::vector<RunResult>>& byService) {
  const int sites = SitesOf(options, kind);
  std::printf("\n%s: job wall time and peak memory, %d sites, %d ms per response\n",
              KindName(kind).c_str(), sites, options.latencyMs);
  std::printf("  %-44s", "");
  for (const Service& service : options.services)
    std::printf("%12s", service.label.substr(0, 11).c_str());
  std::printf("%14s\n", "goal");
  const auto row = [&](const std::string& name, const std::function<double(const Service&)>& value,
                       const char* goal = "") {
    std::printf("  %-44s", name.c_str());
    for (const Service& service : options.services) std::printf("%12.2f", value(service));
    std::printf("%14s\n", goal);
  };
  // Run `round` of a column, or nothing when it failed to run that often.
  const auto runOf = [&](const Service& service, int round) -> const RunResult* {
    const std::vector<RunResult>& runs = byService[service.label];
    return round < static_cast<int>(runs.size()) ? &runs[static_cast<std::size_t>(round)] : nullptr;
  };
  const auto median = [&](const Service& service,
                          const std::function<double(const RunResult&)>& figure) {
    std::vector<double> values;
    for (const RunResult& run : byService[service.label]) values.push_back(figure(run));
    return Median(values);
  };
  const auto wall = [](const RunResult& r) { return r.wallMs / 1000; };
  const auto peak = [](const RunResult& r) { return r.treePeakKb / 1024; };
  // Each web process counts the shared libraries in its RSS again; PSS shares them out.
  const auto pss = [](const RunResult& r) { return r.treePeakPssKb / 1024; };
  for (int round = 0; round < options.rounds; ++round)
    row("job wall time, run " + std::to_string(round + 1) + " (s)", [&](const Service& service) {
      const RunResult* run = runOf(service, round);
      return run ? wall(*run) : 0.0;
    });
  row("job wall time (median, s)", [&](const Service& service) { return median(service, wall); });
  row("first request to last answer (median, s)", [&](const Service& service) {
    return median(service, [](const RunResult& r) { return r.jobMs / 1000; });
  });
  row("ms per site, job wall time / sites (median)", [&](const Service& service) {
    return median(service, [&](const RunResult& r) { return r.wallMs / sites; });
  });
  for (int round = 0; round < options.rounds; ++round)
    row("all processes at peak, run " + std::to_string(round + 1) + " (MB)",
        [&](const Service& service) {
          const RunResult* run = runOf(service, round);
          return run ? peak(*run) : 0.0;
        });
  row("all processes at peak (median, MB)",
      [&](const Service& service) { return median(service, peak); });
  row("all processes at peak (median, MB, PSS)", [&](const Service& service) {
    return median(service, [](const RunResult& r) { return r.treePeakPssKb / 1024; });
  });
  if (options.lanes.empty()) return;
  const int fewest = *std::min_element(options.lanes.begin(), options.lanes.end());
  const auto base = [&](const Service& service) {
    for (const Service& other : options.services)
      if (other.service == service.service && other.lanes == fewest) return other;
    return service;
  };
  const std::string against = std::to_string(fewest) + (fewest == 1 ? " lane's" : " lanes'");
  row(
      "job wall time over " + against + " (ratio)",
      [&](const Service& service) {
        const double own = median(base(service), wall);
        return own > 0 ? median(service, wall) / own : 0.0;
      },
      options.latencyMs > 0 ? "x8: <= 0.167" : "<= 1");
  row(
      "PSS peak over " + against + ", per extra lane (MB)",
      [&](const Service& service) {
        if (service.lanes == fewest) return 0.0;
        return (median(service, pss) - median(base(service), pss)) / (service.lanes - fewest);
      },
      "<= 150");
}

// The median of `figure` over a service's runs of one kind; 0 when that kind did not run.
double MedianOf(Results& results, SiteKind kind, const std::string& label,
                const std::function<double(const RunResult&)>& figure) {
  std::vector<double> values;
  for (const RunResult& run : results[kind][label]) values.push_back(figure(run));
  return Median(values);
}

void PrintGoals(const Options& options, Results& results,
                const std::vector<RunResult>& startFloor) {
  std::printf("\nGoals (per service; medians of runs)\n  %-44s", "");
  for (const Service& service : options.services)
    std::printf("%12s", service.label.substr(0, 11).c_str());
  std::printf("%12s\n", "goal");
  const auto perSite = [](const RunResult& r) { return Median(r.siteMs); };
  const auto goal = [&](const std::string& name, const char* target,
                        const std::function<double(const std::string&)>& figure) {
    std::printf("  %-44s", name.c_str());
    for (const Service& service : options.services) std::printf("%12.1f", figure(service.label));
    std::printf("%12s\n", target);
  };
  goal("form: ms per site over form-floor", "<= 2", [&](const std::string& label) {
    return MedianOf(results, SiteKind::Form, label, perSite) -
           MedianOf(results, SiteKind::FormFloor, label, perSite);
  });
  goal("large: ms per site over large-floor", "<= 100", [&](const std::string& label) {
    return MedianOf(results, SiteKind::Large, label, perSite) -
           MedianOf(results, SiteKind::LargeFloor, label, perSite);
  });
  goal("flow: web growth (KB per site)", "<= 10", [&](const std::string& label) {
    return MedianOf(results, SiteKind::Flow, label, [](const RunResult& r) {
      const auto web = r.memory.find("web");
      return web == r.memory.end() ? 0.0 : web->second.growthKbPerSite;
    });
  });
  goal("flow: last 50 sites over sites 20-70 (%)", "<= 3", [&](const std::string& label) {
    return MedianOf(results, SiteKind::Flow, label,
                    [](const RunResult& r) { return Drift(r.siteMs); });
  });
  goal("flow: all processes at peak (MB)", "<= 450", [&](const std::string& label) {
    return MedianOf(results, SiteKind::Flow, label,
                    [](const RunResult& r) { return r.treePeakKb / 1024; });
  });
  goal("flow: all processes at peak (MB, PSS)", "<= 450", [&](const std::string& label) {
    return MedianOf(results, SiteKind::Flow, label,
                    [](const RunResult& r) { return r.treePeakPssKb / 1024; });
  });
  const auto startup = [&](const std::string& label) {
    std::vector<double> values;
    for (SiteKind kind : options.kinds)
      for (const RunResult& run : results[kind][label]) values.push_back(run.startupMs);
    return Median(values);
  };
  goal("start to first request, all runs (ms)", "<= 300", startup);
  // The engine's own start on this machine, for reading the line above.
  std::vector<double> floorStarts;
  for (const RunResult& run : startFloor) floorStarts.push_back(run.startupMs);
  goal("start over a bare WebKitGTK program's (ms)", "",
       [&](const std::string& label) { return startup(label) - Median(floorStarts); });
  std::printf("  %-44s%12.1f\n", "bare WebKitGTK program: start (ms)", Median(floorStarts));
}

// Shared-store runs by service label, then instance count.
using SharedResults = std::map<std::string, std::map<int, std::vector<SharedRunResult>>>;

// The median of `figure` over the runs that ended without error; 0 when none did.
double SharedMedian(const std::vector<SharedRunResult>& runs,
                    const std::function<double(const SharedRunResult&)>& figure) {
  std::vector<double> values;
  for (const SharedRunResult& run : runs)
    if (run.error.empty()) values.push_back(figure(run));
  return Median(values);
}

// The sites each instance's connections fetched, the largest share first
// ("62 + 38"): by rank, the median over runs.
std::string SitesPerInstance(const std::vector<SharedRunResult>& runs, int instances) {
  std::string text;
  for (std::size_t rank = 0; rank < static_cast<std::size_t>(instances); ++rank) {
    const double count = SharedMedian(runs, [rank](const SharedRunResult& run) {
      std::vector<int> shares = run.sitesByInstance;
      std::sort(shares.rbegin(), shares.rend());
      return shares[rank];
    });
    text += (rank ? " + " : "") + std::to_string(static_cast<int>(count));
  }
  const double unseen =
      SharedMedian(runs, [](const SharedRunResult& r) { return r.sitesUnattributed; });
  if (unseen > 0) text += " (" + std::to_string(static_cast<int>(unseen)) + " unseen)";
  return text;
}

void PrintShared(const Options& options, SiteKind kind, SharedResults& results) {
  const int fewest = *std::min_element(options.instances.begin(), options.instances.end());
  const int lanes = options.services.front().lanes;
  std::printf(
      "\n%s: one job of %d sites on a shared PostgreSQL server, %d ms per response, "
      "%d lane%s per instance, %d run%s per count (medians)\n",
      KindName(kind).c_str(), SitesOf(options, kind), options.latencyMs, lanes,
      lanes == 1 ? "" : "s", options.rounds, options.rounds == 1 ? "" : "s");
  const std::string ratio = "ratio to " + std::to_string(fewest);
  std::printf("  %-12s%10s%10s%15s%13s%12s   %s\n", "service", "instances", "wall s",
              "last answer s", "ms per site", ratio.c_str(), "sites per instance");
  const auto wall = [](const SharedRunResult& r) { return r.wallMs / 1000; };
  for (const Service& service : options.services) {
    auto& byCount = results[service.label];
    const double base = SharedMedian(byCount[fewest], wall);
    for (int instances : options.instances) {
      const std::vector<SharedRunResult>& runs = byCount[instances];
      const double seconds = SharedMedian(runs, wall);
      std::printf("  %-12s%10d", service.label.substr(0, 11).c_str(), instances);
      if (seconds == 0) {
        std::printf("%10s\n", "failed");
        continue;
      }
      std::printf(
          "%10.2f%15.2f%13.1f%12.2f   %s\n", seconds,
          SharedMedian(runs, [](const SharedRunResult& r) { return r.lastAnswerMs / 1000; }),
          seconds * 1000 / SitesOf(options, kind), base > 0 ? seconds / base : 0.0,
          SitesPerInstance(runs, instances).c_str());
    }
    const double one = SharedMedian(byCount[1], wall), two = SharedMedian(byCount[2], wall);
    if (one > 0 && two > 0)
      std::printf("  goal (%s): 2 instances <= 0.6 of 1 instance's wall time: %.2f, %s\n",
                  service.label.c_str(), two / one, two / one <= 0.6 ? "met" : "missed");
  }
}

// --instances: each kind's job on a shared server, each service and instance
// count in turn, round after round; `settle` learns how each run ended.
void RunShared(const Options& options, BenchFarm& farm, const std::function<std::string()>& newWork,
               const std::function<void(const std::string&, const std::string&)>& settle) {
  std::map<SiteKind, SharedResults> results;
  for (int round = 1; round <= options.rounds; ++round) {
    for (SiteKind kind : options.kinds) {
      for (const Service& service : options.services) {
        for (int instances : options.instances) {
          const std::string work = newWork();
          SharedRunResult result = RunSharedStore(service.binary, kind, SitesOf(options, kind),
                                                  farm, work, instances, service.lanes);
          std::fprintf(stderr, "round %d %-11s %-10s %d instance%s  %4d sites  wall %7.2f s  ",
                       round, KindName(kind).c_str(), service.label.c_str(), instances,
                       instances == 1 ? " " : "s", result.sites, result.wallMs / 1000);
          for (std::size_t i = 0; i < result.sitesByInstance.size(); ++i)
            std::fprintf(stderr, "%s%d", i ? " + " : "by instance ", result.sitesByInstance[i]);
          if (result.sitesUnattributed)
            std::fprintf(stderr, " (%d unseen)", result.sitesUnattributed);
          std::fprintf(stderr, "%s%s\n", result.error.empty() ? "" : "  ", result.error.c_str());
          settle(result.error, work);
          results[kind][service.label][instances].push_back(std::move(result));
        }
      }
    }
  }
  for (SiteKind kind : options.kinds) PrintShared(options, kind, results[kind]);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: veltrane-bench [--rounds R] [--sites N] [--large-sites M] "
                 "[--kinds flow,form,form-floor,large,large-floor] [--keep] [--latency-ms L] "
                 "[--lanes n1,n2,...] [--instances n1,n2,...] [[LABEL=]SERVICE...]\n");
    return 2;
  }
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "veltrane-bench: no X display (run under xvfb-run)\n");
    return 2;
  }
  BenchFarm farm(&ServeSitePage, std::chrono::milliseconds(options.latencyMs));
  std::string base = (std::filesystem::temp_directory_path() / "veltrane-bench-XXXXXX").string();
  if (!mkdtemp(base.data())) {
    std::perror("veltrane-bench: mkdtemp");
    return 1;
  }
  Results results;
  std::vector<RunResult> startFloor;
  int failures = 0, run = 0;
  const auto newWork = [&] {
    const std::string work = base + "/run" + std::to_string(++run);
    std::filesystem::create_directories(work);
    return work;
  };
  // A failed run's folder stays, for its service.log.
  const auto settle = [&](const std::string& error, const std::string& work) {
    if (!error.empty())
      ++failures;
    else if (!options.keep)
      std::filesystem::remove_all(work);
  };
  if (!options.instances.empty()) {
    RunShared(options, farm, newWork, settle);
    if (options.keep) std::fprintf(stderr, "runs kept in %s\n", base.c_str());
    if (failures == 0 && !options.keep) std::filesystem::remove_all(base);
    return failures ? 1 : 0;
  }
  for (int round = 1; round <= options.rounds; ++round) {
    for (SiteKind kind : options.kinds) {
      const std::string floorWork = newWork();
      RunResult bare = RunStartFloor(VELTRANE_START_FLOOR, farm, floorWork);
      std::fprintf(stderr, "round %d start-floor (bare WebKitGTK)  first request %6.0f ms%s%s\n",
                   round, bare.startupMs, bare.error.empty() ? "" : "  ", bare.error.c_str());
      settle(bare.error, floorWork);
      if (bare.error.empty()) startFloor.push_back(std::move(bare));
      for (const Service& service : options.services) {
        const std::string work = newWork();
        RunResult result =
            RunService(service.binary, kind, SitesOf(options, kind), farm, work, service.lanes);
        std::fprintf(stderr,
                     "round %d %-11s %-10s %4d sites  %8.1f ms/site  first request %6.0f ms", round,
                     KindName(kind).c_str(), service.label.c_str(), result.sites,
                     Median(result.siteMs), result.startupMs);
        if (options.wallReport)
          std::fprintf(stderr, "  wall %7.2f s  peak %6.1f MB", result.wallMs / 1000,
                       result.treePeakKb / 1024);
        std::fprintf(stderr, "%s%s\n", result.error.empty() ? "" : "  ", result.error.c_str());
        settle(result.error, work);
        results[kind][service.label].push_back(std::move(result));
      }
    }
  }
  for (SiteKind kind : options.kinds) PrintKind(options, kind, results[kind]);
  if (options.wallReport)
    for (SiteKind kind : options.kinds) PrintWall(options, kind, results[kind]);
  PrintGoals(options, results, startFloor);
  if (options.keep) std::fprintf(stderr, "runs kept in %s\n", base.c_str());
  if (failures == 0 && !options.keep) std::filesystem::remove_all(base);
  return failures ? 1 : 0;
}
