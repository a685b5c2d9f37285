#!/usr/bin/env bash
# The demo run: sets up a Debian 12 machine, builds Veltrane, lays out a demo
# directory (demo/: the service, its db/ with a press release, three sites and
# a schedule due now) when there is none yet, starts the demo sites on
# 127.0.0.1, runs the service until the job's history row appears, prints the
# report and stops what it started. A second run reuses demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
demo="$root/demo"
port=18765
admin="$demo/veltrane-admin"

bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANE_BUILD_TESTS=OFF >/dev/null
cmake --build build-release
cmake --install build-release --prefix "$demo" >/dev/null

if [[ ! -f "$demo/db/vt.dat" ]]; then
  echo "demo: preparing $demo"
  "$admin" --dir "$demo" init
  "$admin" --dir "$demo" release add tools/demo/release.txt
  "$admin" --dir "$demo" site add "Daily Wire" --url "http://127.0.0.1:$port/alpha/" \
    --script tools/demo/daily-wire.ini
  "$admin" --dir "$demo" site add "Press Hub" --url "http://127.0.0.1:$port/beta/" \
    --script tools/demo/press-hub.ini
  "$admin" --dir "$demo" site add "Closed Wire" --url "http://127.0.0.1:$port/gamma/" \
    --script tools/demo/closed-wire.ini
  echo secret | "$admin" --dir "$demo" account set "Daily Wire" --user demo
  "$admin" --dir "$demo" schedule add --release "Acme Widget Launch" \
    --sites "Daily Wire,Press Hub,Closed Wire" --frequency once --first now
else
  echo "demo: reusing $demo"
  "$admin" --dir "$demo" schedule run-now 1
fi

history_count() { sqlite3 "$demo/db/vt.dat" "SELECT count(*) FROM history"; }
before=$(history_count)

pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
}
trap stop_all EXIT

setsid build-release/tools/veltrane-demo-server "$port" >"$demo/sites.log" 2>&1 &
pids+=($!)

# The service's own lock directory, so a real instance of the user does not block the demo.
mkdir -p "$demo/run"
service=(./veltrane)
[[ -n "${DISPLAY:-}" ]] || service=(xvfb-run -a ./veltrane)
XDG_RUNTIME_DIR="$demo/run" setsid bash -c 'cd "$1" && exec "${@:2}"' _ "$demo" "${service[@]}" \
  2>"$demo/service.log" &
pids+=($!)
echo "demo: service started; its trace goes to $demo/service.log"

for _ in $(seq 1 600); do
  [[ $(history_count) -gt $before ]] && break
  sleep 0.5
done
if [[ $(history_count) -le $before ]]; then
  echo "demo: no report after five minutes; see $demo/service.log" >&2
  exit 1
fi

id=$(sqlite3 "$demo/db/vt.dat" "SELECT max(rowid) FROM history")
echo
echo "demo: what the sites received:"
sed 's/^/  /' "$demo/sites.log"
echo
"$admin" --dir "$demo" history show "$id"
