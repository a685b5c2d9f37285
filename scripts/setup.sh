#!/usr/bin/env bash
# Installs the Debian packages Veltrane builds, tests and runs with, and the
# decimal-comma locale the locale tests use. A no-op when all is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtk-3-dev libwebkit2gtk-4.1-dev libjson-glib-dev libsqlite3-dev libx11-dev libxau-dev libxtst-dev libpsl-dev
  libgtest-dev libgmock-dev libcpp-httplib-dev libbenchmark-dev
  libpq-dev postgresql
  xvfb xauth locales sqlite3 libjs-jquery
  libayatana-appindicator3-dev libsystemd-dev dbus-daemon file dpkg-dev systemd lintian
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# de_DE.UTF-8 writes decimal commas; the tests check that SQL text stays with points.
if ! locale -a 2>/dev/null | grep -qiE '^de_DE\.utf-?8$'; then
  echo "setup: generating de_DE.UTF-8"
  as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
