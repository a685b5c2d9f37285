#!/usr/bin/env bash
# Builds the service and its benchmark into build/ and runs the benchmark under
# Xvfb. Arguments go to veltrane-bench (see tools/veltrane_bench.cpp); without
# service binaries it runs the one just built. For example:
#   tools/bench.sh --rounds 1 --sites 200 --kinds flow --latency-ms 250 --lanes 1,8
#   tools/bench.sh --sites 100 --kinds flow --latency-ms 250 --instances 1,2 [--lanes 4]
# The second runs one job on a throw-away PostgreSQL server shared by one and
# then two instances of the service.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target veltrane veltrane-start-floor veltrane-bench
exec xvfb-run -a -s "-noreset -screen 0 1280x1024x24" build/tools/veltrane-bench "$@"
