// One shared-store run: a throw-away PostgreSQL server holding the
// benchmark's job (one schedule listing every site, due at once) and
// `instances` copies of the service on it, each in a folder of its own under
// `work` (with db/ and a veltrane.conf of `lanes` lanes), started together.
// The run lasts until the job's history row is on the server or the bound
// passes; then every instance's process group is killed and the server is
// stopped and removed. Times count from the instances' start. A build
// without PostgreSQL support gives only an error.
#pragma once

#include <string>
#include <vector>

#include "tools/bench_farm.h"
#include "tools/bench_sites.h"

namespace veltrane::bench {

struct SharedRunResult {
  std::string error;  // empty when the job wrote its history row with every site answered
  int sites = 0;      // sites that fetched their answer
  // Of a run without error; 0 otherwise.
  double wallMs = 0;        // to the job's history row on the server
  double lastAnswerMs = 0;  // to the last answer written by the farm
  // Answers fetched over each instance's connections, in the order the
  // instances were started, and those whose connection was not seen.
  std::vector<int> sitesByInstance;
  int sitesUnattributed = 0;
};

SharedRunResult RunSharedStore(const std::string& binary, SiteKind kind, int sites, BenchFarm& farm,
                               const std::string& work, int instances, int lanes);

}  // namespace veltrane::bench
