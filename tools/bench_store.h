// The benchmark's job in a store, the same on the SQLite files and on a
// PostgreSQL server: one press release, `sites` sites of one kind on the farm
// (with their logins), and one daily schedule listing them all whose next run
// lies long past, so that it is due at once. The store's tables must exist.
#pragma once

#include "storage/database_files.h"
#include "tools/bench_farm.h"
#include "tools/bench_sites.h"

namespace veltrane::bench {

void WriteBenchJob(const DatabasePaths& store, SiteKind kind, int sites, const BenchFarm& farm);

}  // namespace veltrane::bench
