// The tests' throw-away PostgreSQL server: the benchmark's, which starts one
// of its own for its shared-store runs.
#pragma once

#include "tools/postgres_server.h"

namespace veltrane::testing {

using bench::PostgresServer;

}  // namespace veltrane::testing
