#!/usr/bin/env bash
# The Debian package made from the build tree's binaries: its control fields,
# its files in Debian's layout, its maintainer scripts, lintian's verdict, and
# the unit it gives systemd (verified, and hardened to an exposure of 4.0 or
# less by systemd-analyze's offline measure).
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
# What the binaries link, found by dpkg-shlibdeps, the headless display and
# what the maintainer scripts call.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in adduser xvfb xauth libwebkit2gtk-4.1-0 libgtk-3-0 libsqlite3-0 \
              libayatana-appindicator3-1 libx11-6 libxtst6 libsystemd0 libc6; do
  grep -qE "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
info=$(dpkg-deb -I "$deb")
for script in postinst prerm postrm; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$info" ||
    fail "no executable $script in: $info"
done
dpkg-deb -e "$deb" "$out/control"
[[ $(cat "$out/control/conffiles") == /etc/veltrane/veltrane.conf ]] || fail "conffiles"

# Debian's layout: nothing in /opt, links in /usr/bin and from the programs'
# folder to the state and the configuration.
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print $6 ($7 == "->" ? " -> " $8 : "")}' <<<"$listing" | sort)
expected=$(sort <<'LIST'
./etc/veltrane/veltrane.conf
./lib/systemd/system/veltrane.service
./lib/systemd/system/veltrane-web.service
./usr/bin/veltrane -> ../lib/veltrane/veltrane
./usr/bin/veltrane-admin -> ../lib/veltrane/veltrane-admin
./usr/lib/veltrane/db -> /var/lib/veltrane/db
./usr/lib/veltrane/shots -> /var/lib/veltrane/shots
./usr/lib/veltrane/tries -> /var/lib/veltrane/tries
./usr/lib/veltrane/veltrane
./usr/lib/veltrane/veltrane-admin
./usr/lib/veltrane/veltrane.conf -> /etc/veltrane/veltrane.conf
./usr/lib/veltrane/web-extensions/veltrane-request-guard.so
./usr/share/bash-completion/completions/veltrane-admin
./usr/share/doc/veltrane/changelog.gz
./usr/share/doc/veltrane/copyright
./usr/share/man/man8/veltrane-admin.8.gz
./usr/share/man/man8/veltrane.8.gz
LIST
)
[[ $files == "$expected" ]] || fail "files differ: $(diff <(echo "$expected") <(echo "$files"))"
grep -qE '^-rwxr-xr-x .* \./usr/lib/veltrane/veltrane$' <<<"$listing" || fail "service not executable"

# No errors and no warnings; the informational tags left are explained in the
# README ("Run it for real").
lintian --no-tag-display-limit "$deb" >"$out/lintian.txt" 2>&1 || { cat "$out/lintian.txt"; fail "lintian failed"; }
if grep -E '^[EW]: ' "$out/lintian.txt"; then fail "lintian reports errors or warnings"; fi

# The manual pages are roff that man reads without complaint.
dpkg-deb -x "$deb" "$out/root"
for page in veltrane veltrane-admin; do
  text=$(zcat "$out/root/usr/share/man/man8/$page.8.gz" | MANWIDTH=80 man --warnings -l - 2>"$out/man.err")
  [[ ! -s $out/man.err ]] || { cat "$out/man.err"; fail "man warnings for $page(8)"; }
  grep -q "^NAME" <<<"$text" || fail "$page(8) has no NAME"
done
grep -q 'site try' <(zcat "$out/root/usr/share/man/man8/veltrane-admin.8.gz") ||
  fail "veltrane-admin(8) lacks the commands"

# The unit: as veltrane, in /var/lib/veltrane, accepted by systemd, and hardened.
unit=$out/root/lib/systemd/system/veltrane.service
# The service itself is the main process, the only one systemd hears.
for setting in User=veltrane StateDirectory=veltrane Type=notify NotifyAccess=main \
               WEBKIT_FORCE_SANDBOX=1 ExecStart=/usr/lib/veltrane/veltrane \
               "ExecStartPre=-/usr/lib/veltrane/veltrane-admin --dir /usr/lib/veltrane init"; do
  grep -qE "^(Environment=)?$setting\$" "$unit" || fail "unit lacks $setting"
done
# The programs are in the package's root, not on this machine.
verified=$(systemd-analyze verify --man=no "$unit" 2>&1 |
  grep -v 'Command /usr/lib/veltrane/veltrane is not executable') || true
[[ -z $verified ]] || fail "systemd-analyze verify: $verified"
# The web view's program is in the package's root, not on this machine.
verified=$(systemd-analyze verify --man=no "$out/root/lib/systemd/system/veltrane-web.service" 2>&1 |
  grep -v 'Command /usr/lib/veltrane/veltrane-admin is not executable') || true
[[ -z $verified ]] || fail "systemd-analyze verify: $verified"
exposure=$(systemd-analyze security --offline=yes "$unit" 2>&1 |
  sed -n 's/.*Overall exposure level for veltrane.service: \([0-9.]*\).*/\1/p')
[[ -n $exposure ]] || fail "no exposure figure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' || fail "exposure $exposure is above 4.0"

# The maintainer scripts: valid sh, systemctl only for daemon-reload (the rest
# through deb-systemd-helper and deb-systemd-invoke), no database touched.
for script in postinst prerm postrm; do
  sh -n "$out/control/$script" || fail "$script is not valid sh"
  if grep -E '^[^#]*systemctl' "$out/control/$script" | grep -qv daemon-reload; then
    fail "$script calls systemctl"
  fi
done
if grep -E '^[^#]*veltrane-admin' "$out/control/postinst"; then fail "postinst runs veltrane-admin"; fi
echo "package ok: $(basename "$deb"), exposure $exposure"
