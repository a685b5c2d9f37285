#!/usr/bin/env bash
# `cmake --install` into a fresh directory gives a self-contained layout whose
# unit and autostart entry name that directory.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for path in veltrane veltrane-admin db shots icons/veltrane.svg systemd/veltrane.service \
            autostart/veltrane.desktop; do
  [[ -e "$prefix/$path" ]] || { echo "missing: $path"; exit 1; }
done
[[ -x "$prefix/veltrane" && -x "$prefix/veltrane-admin" ]] || { echo "not executable"; exit 1; }
grep -qx "ExecStart=/usr/bin/xvfb-run -a -s \"-screen 0 1280x1024x24\" $prefix/veltrane" \
  "$prefix/systemd/veltrane.service" || { echo "unit does not run $prefix/veltrane"; exit 1; }
grep -qx "Exec=$prefix/veltrane" "$prefix/autostart/veltrane.desktop" ||
  { echo "autostart entry does not run $prefix/veltrane"; exit 1; }
# The installed admin tool prepares the installed service's databases.
"$prefix/veltrane-admin" init "$prefix" >/dev/null
[[ -s "$prefix/db/vt.dat" && -s "$prefix/db/subscription2.dat" ]] || { echo "init failed"; exit 1; }
echo "install layout ok"
