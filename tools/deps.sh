#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and run Ordika.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config
      libgtk-3-dev libglib2.0-dev libglib2.0-dev-bin librsvg2-common libsqlite3-dev libssl-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      xvfb xauth clang libclang-rt-14-dev
      python3 python3-icalendar python3-vobject python3-cryptography sqlite3
      python3-dogtail python3-pyatspi python3-xlib at-spi2-core dbus-x11 dbus-daemon libatk-adaptor trayer
      libxss1
      locales
      librsvg2-bin desktop-file-utils appstream groff-base dpkg-dev xdg-utils
      libpq-dev postgresql-15 haproxy)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
