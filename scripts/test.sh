#!/usr/bin/env bash
# Sets up a Debian 12 machine (packages, locale), builds Veltrane and runs the
# whole test suite under a virtual X display. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
# Browser tests need an X display; Xvfb gives each run a private one. The
# fault suite starts and kills whole services on its display, so it gets one
# of its own, apart from the tests that watch the display's windows. Without
# -noreset the server resets whenever its last client leaves, and a test that
# connects during that moment cannot open the display.
status=0
xvfb-run -a -s "-noreset -screen 0 1280x1024x24" \
  ctest --test-dir build --output-on-failure --timeout 600 -j "$(nproc)" -LE fault || status=1
xvfb-run -a -s "-noreset -screen 0 1280x1024x24" \
  ctest --test-dir build --output-on-failure --timeout 600 -j "$(nproc)" -L fault || status=1
exit $status
