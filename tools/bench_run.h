// One benchmark run: a service binary copied beside a db/ of its own, with
// one schedule due at once that lists `sites` sites of one kind on the farm;
// run in a process group of its own until every site has fetched its answer
// page (or the bound passes), then killed with everything it started. While
// it runs, the resident memory of its processes (its group and every process
// descended from it) is sampled. The figures come from the farm's request
// log, not from the service.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/bench_farm.h"
#include "tools/bench_sites.h"

namespace veltrane::bench {

struct MemoryFigures {
  double startKb = 0;  // when the first request arrived
  double peakKb = 0;
  double endKb = 0;  // when the last answer was fetched
  double growthKbPerSite = 0;
};

struct RunResult {
  std::string error;           // empty when every site was served its answer
  int sites = 0;               // sites that fetched their answer
  double startupMs = 0;        // process start to the first request
  std::vector<double> siteMs;  // from one site's first request to the next one's
  std::map<std::string, std::vector<double>> gapMs;  // page kind: answer written to next request
  std::map<std::string, MemoryFigures> memory;       // "UI", "web", "network"
  double treePeakKb = 0;                             // all processes' resident memory together
  // The same as proportional set sizes: a shared library page resident in
  // three processes counts once, not three times.
  double treePeakPssKb = 0;
  // Of a run that ended with every site answered; 0 otherwise.
  double wallMs = 0;  // process start to the last answer written: the job, start-up included
  double jobMs = 0;   // first request to the last answer written
};

// A veltrane.conf in `work` with "parallel_sites = <lanes>" and as many per host.
void WriteLanes(const std::string& work, int lanes);

// How long a job of `sites` sites may take before its run counts as failed.
Clock::duration JobBound(SiteKind kind, int sites, const BenchFarm& farm);

// `work` is an empty directory the run may fill. With `lanes` > 0 the
// service's veltrane.conf says "parallel_sites = <lanes>"; with 0 there is none.
RunResult RunService(const std::string& binary, SiteKind kind, int sites, BenchFarm& farm,
                     const std::string& work, int lanes = 0);

// The bare engine's start (veltrane-start-floor), run the same way: only
// startupMs, or the error, is filled in.
RunResult RunStartFloor(const std::string& binary, BenchFarm& farm, const std::string& work);

}  // namespace veltrane::bench
