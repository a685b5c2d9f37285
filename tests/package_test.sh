#!/usr/bin/env bash
# The Debian package made from the build tree's binaries: its control fields,
# maintainer scripts and files, and the unit it gives systemd.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "$*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; fail "cpack failed"; }
debs=("$out"/veltrane_*_*.deb)
deb=${debs[0]}
[[ -f $deb ]] || fail "no veltrane_*.deb in $(ls "$out")"

[[ $(dpkg-deb -f "$deb" Package) == veltrane ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] || fail "architecture"
# What the binaries link, found by dpkg-shlibdeps, and the headless display.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in xvfb xauth libwebkit2gtk-4.1-0 libgtk-3-0 libsqlite3-0 libayatana-appindicator3-1 \
              libx11-6 libxtst6 libsystemd0 libc6; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
info=$(dpkg-deb -I "$deb")
for script in postinst prerm postrm; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$info" ||
    fail "no executable $script in: $info"
done

# The install layout under /opt/veltrane, the unit for systemd, nothing else.
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ || $6 ~ /(db|shots)\/$/ {print $6}' <<<"$listing" | sort)
expected=$(sort <<'LIST'
./lib/systemd/system/veltrane.service
./opt/veltrane/autostart/veltrane.desktop
./opt/veltrane/db/
./opt/veltrane/icons/veltrane.svg
./opt/veltrane/shots/
./opt/veltrane/systemd/veltrane.service
./opt/veltrane/veltrane
./opt/veltrane/veltrane-admin
LIST
)
[[ $files == "$expected" ]] || fail "files differ: $(diff <(echo "$expected") <(echo "$files"))"
grep -qE '^-rwxr-xr-x .* \./opt/veltrane/veltrane$' <<<"$listing" || fail "service not executable"

# The unit systemd gets names the packaged folder and is the one in the layout.
dpkg-deb -x "$deb" "$out/root"
unit=$out/root/lib/systemd/system/veltrane.service
cmp -s "$unit" "$out/root/opt/veltrane/systemd/veltrane.service" || fail "two different units"
grep -qF ' /usr/bin/env NOTIFY_SOCKET="$$socket" /opt/veltrane/veltrane'"'"'' "$unit" ||
  fail "unit does not run /opt/veltrane/veltrane"
grep -qx 'ReadWritePaths=/opt/veltrane/db /opt/veltrane/shots' "$unit" || fail "writable paths"
echo "package ok: $(basename "$deb")"
