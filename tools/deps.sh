#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages needed to build, test and run Ordika.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config
      libgtk-3-dev libglib2.0-dev libglib2.0-dev-bin librsvg2-common libsqlite3-dev libssl-dev
      libcurl4-openssl-dev libxml2-dev libical-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      xvfb xauth clang libclang-rt-14-dev
      python3 python3-icalendar python3-vobject python3-cryptography sqlite3
      radicale xandikos python3-caldav vdirsyncer openssl dnsmasq-base
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
# The start-up benchmark and the tests also run in en_US.UTF-8, which a fresh
# system has the data for but has not generated. Listed in /etc/locale.gen so
# that a later locale-gen keeps it.
if ! locale -a 2>/dev/null | grep -qix 'en_US\.utf-\?8'; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  if [ -f /etc/locale.gen ] && grep -q '^# *en_US\.UTF-8 UTF-8' /etc/locale.gen; then
    $SUDO sed -i 's/^# *\(en_US\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^en_US\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'en_US.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  if command -v locale-gen >/dev/null; then
    $SUDO locale-gen
  else
    $SUDO localedef -i en_US -c -f UTF-8 en_US.UTF-8
  fi
fi
