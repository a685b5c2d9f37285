#!/usr/bin/env bash
# Builds the Debian package from the checkout: installs the build's Debian
# packages (scripts/setup.sh), builds a Release tree in build-release/ and
# makes build-release/veltrane_<version>_<arch>.deb from it, with Debian's
# hardening flags (a tree configured before keeps the flags it had).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANE_BUILD_TESTS=OFF >/dev/null
cmake --build build-release --target package
ls build-release/veltrane_*.deb
