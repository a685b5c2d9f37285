// The shared-store run of a build without PostgreSQL support.
#include "tools/bench_shared.h"

namespace veltrane::bench {

SharedRunResult RunSharedStore(const std::string&, SiteKind, int, BenchFarm&, const std::string&,
                               int, int) {
  SharedRunResult result;
  result.error = "built without PostgreSQL support (libpq-dev): no shared-store runs";
  return result;
}

}  // namespace veltrane::bench
