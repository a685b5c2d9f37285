#!/usr/bin/env bash
# Tries the package as an administrator would, each step in a freshly booted
# Debian 12 container (systemd-nspawn over a debootstrap root; slow, hence not
# part of the test suite):
#   install   apt-get install ./veltrane_NEW.deb on a fresh system, a job run
#   upgrade   a 1.0.0 package (/opt/veltrane) with data, then the new one
#   remove    apt-get remove, then apt-get purge
# and prints what each step left behind. A site on 127.0.0.1:PORT must answer
# with a page holding "Thank you" (the container shares the host's network).
# Usage: package_root_test.sh BASE_ROOT NEW.deb OLD.deb PORT WORK_DIR
set -euo pipefail
base=$1 new=$2 old=$3 port=$4 work=$5
mkdir -p "$work"

boot() {  # boot NAME: a copy of the base root, booted; sets $leader
  local root=$work/$1
  rm -rf "$root"
  cp -a "$base" "$root"
  cp "$new" "$old" "$root/root/"
  systemd-nspawn -q --register=no --keep-unit -D "$root" -b --machine="$1" >"$work/$1.console" 2>&1 &
  echo $! >"$work/$1.pid"
  for _ in $(seq 60); do
    leader=$(ps --ppid "$(cat "$work/$1.pid")" -o pid= | tr -d ' ' || true)
    [[ -n $leader ]] && in_root systemctl is-system-running 2>/dev/null | grep -qE 'running|degraded' &&
      return 0
    sleep 2
  done
  echo "$1 did not boot"; exit 1
}
in_root() { nsenter -t "$leader" -a "$@"; }
shutdown_root() { in_root systemctl poweroff || true; wait "$(cat "$work/$1.pid")" || true; }
apt_in() {
  in_root env DEBIAN_FRONTEND=noninteractive apt-get -y -q -o Dpkg::Options::=--force-confdef \
    -o Dpkg::Options::=--force-confold "$@" >>"$work/apt.log" 2>&1
}
left() {  # what the package's names have on the system
  echo "--- left after $1:"
  in_root sh -c 'dpkg-query -W -f="package: \${Status}\n" veltrane 2>/dev/null || echo "package: none";
    for p in /opt/veltrane /etc/veltrane /var/lib/veltrane /usr/lib/veltrane \
             /etc/systemd/system/veltrane.service /etc/systemd/system/multi-user.target.wants/veltrane.service \
             /var/lib/systemd/deb-systemd-helper-enabled/veltrane.service.dsh-also \
             /var/lib/systemd/deb-systemd-helper-masked/veltrane.service; do
      [ -e "$p" ] || [ -L "$p" ] || continue
      if [ -d "$p" ] && [ ! -L "$p" ]; then find "$p" -printf "%M %u:%g %p\n"; else ls -ld "$p"; fi
    done
    getent passwd veltrane || echo "user veltrane: none"
    dpkg-statoverride --list | grep veltrane || true'
}
run_job() {  # a site on 127.0.0.1, a release, a schedule due now: the service runs it
  in_root sh -c "printf '[STEP1]\nAPP-SuccessString=Thank you\n' > /tmp/s.ini &&
    printf 'name: Test release\nheadline: It works\n' > /tmp/r.txt &&
    sudo_v() { runuser -u veltrane -- \"\$@\"; } &&
    sudo_v veltrane-admin site add 'Local $1' --url http://127.0.0.1:$port/ --script /tmp/s.ini >/dev/null &&
    sudo_v veltrane-admin release add /tmp/r.txt >/dev/null 2>&1 || true
    runuser -u veltrane -- veltrane-admin schedule add --release 'Test release' --sites 'Local $1' \
      --frequency once --first now"
  for _ in $(seq 60); do
    if in_root runuser -u veltrane -- veltrane-admin history list 2>/dev/null | grep -q "Local $1"; then
      in_root runuser -u veltrane -- veltrane-admin history list
      echo "processes of the service:"
      in_root ps -eo user:10,comm | grep -E 'veltrane|Xvfb|bwrap|WebKit' | sort | uniq -c || true
      return 0
    fi
    sleep 5
  done
  echo "no history row for Local $1"; in_root journalctl -u veltrane --no-pager | tail -30; return 1
}

echo "=== install (fresh root)"
boot vfresh
apt_in update
apt_in install "/root/$(basename "$new")"
left install
in_root systemctl is-enabled veltrane.service || true
in_root systemctl is-active veltrane.service || true
run_job fresh
shutdown_root vfresh

echo "=== upgrade from 1.0.0 with data (fresh root)"
boot vupgrade
apt_in update
apt_in install "/root/$(basename "$old")"
in_root sh -c "printf '[STEP1]\nAPP-SuccessString=Thank you\n' > /tmp/s.ini &&
  /opt/veltrane/veltrane-admin --dir /opt/veltrane site add 'Old site' --url http://127.0.0.1:$port/ --script /tmp/s.ini &&
  printf '# kept from 1.0.0\n' > /opt/veltrane/veltrane.conf && chmod 600 /opt/veltrane/veltrane.conf &&
  touch /opt/veltrane/shots/20260101-120000-Old_site.png && chmod 640 /opt/veltrane/shots/*.png"
left "1.0.0 install with data"
apt_in install "/root/$(basename "$new")"
left upgrade
in_root cat /etc/veltrane/veltrane.conf
in_root runuser -u veltrane -- veltrane-admin site list
run_job upgraded
apt_in remove veltrane
left remove
apt_in purge veltrane
left purge
shutdown_root vupgrade
