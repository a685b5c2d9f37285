#!/usr/bin/env bash
# `cmake --install` into a fresh directory gives a self-contained layout whose
# unit and autostart entry name that directory; systemd accepts the unit.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for path in veltrane veltrane-admin db shots icons/veltrane.svg systemd/veltrane.service \
            systemd/veltrane-web.service autostart/veltrane.desktop; do
  [[ -e "$prefix/$path" ]] || { echo "missing: $path"; exit 1; }
done
[[ -x "$prefix/veltrane" && -x "$prefix/veltrane-admin" ]] || { echo "not executable"; exit 1; }
unit=$prefix/systemd/veltrane.service
grep -qxF "ExecStart=$prefix/veltrane" "$unit" || { echo "unit does not run $prefix/veltrane"; exit 1; }
# Ready, status and keep-alive pings come from the service, its main process, alone.
for setting in Type=notify NotifyAccess=main WatchdogSec=5min Restart=on-failure; do
  grep -qx "$setting" "$unit" || { echo "unit lacks $setting"; exit 1; }
done
grep -qx "ReadWritePaths=$prefix/db $prefix/shots" "$unit" || { echo "unit's writable paths"; exit 1; }
# systemd reads every line of the unit: a setting it does not know or cannot
# parse is reported, though the exit code stays 0.
verified=$(systemd-analyze verify "$unit" 2>&1) || { echo "$verified"; exit 1; }
[[ -z $verified ]] || { echo "systemd-analyze verify: $verified"; exit 1; }
# The web view's unit serves that directory on loopback and writes nothing.
web=$prefix/systemd/veltrane-web.service
grep -qxF "ExecStart=$prefix/veltrane-admin --dir $prefix serve --listen 127.0.0.1:8470" "$web" ||
  { echo "web unit does not serve $prefix"; exit 1; }
grep -qx "ReadOnlyPaths=$prefix" "$web" || { echo "web unit's read-only paths"; exit 1; }
verified=$(systemd-analyze verify "$web" 2>&1) || { echo "$verified"; exit 1; }
[[ -z $verified ]] || { echo "systemd-analyze verify: $verified"; exit 1; }
grep -qx "Exec=$prefix/veltrane" "$prefix/autostart/veltrane.desktop" ||
  { echo "autostart entry does not run $prefix/veltrane"; exit 1; }
# The installed admin tool prepares the installed service's databases.
"$prefix/veltrane-admin" init "$prefix" >/dev/null
[[ -s "$prefix/db/vt.dat" && -s "$prefix/db/subscription2.dat" ]] || { echo "init failed"; exit 1; }
echo "install layout ok"
