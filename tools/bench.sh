#!/usr/bin/env bash
# Builds the service and its benchmark into build/ and runs the benchmark under
# Xvfb. Arguments go to veltrane-bench (see tools/veltrane_bench.cpp); without
# service binaries it runs the one just built.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target veltrane veltrane-start-floor veltrane-bench
exec xvfb-run -a -s "-noreset -screen 0 1280x1024x24" build/tools/veltrane-bench "$@"
