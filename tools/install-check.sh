#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that Ordika installs, starts and uninstalls like a desktop
# application: the staged install (tests/install/check_install.sh: file list,
# validators, manual pages, systemd unit), then the Debian package installed
# with apt-get, the programs run from their installed paths (the window under
# Xvfb with a fresh HOME, through the first-start journey of tests/e2e), and
# the package removed again, leaving none of its files behind.
# Usage: tools/install-check.sh [BUILD_DIR] (default build; root or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
installed() { dpkg-query -W -f='${Status}' ordika 2>/dev/null | grep -q "install ok installed"; }
if installed; then
  echo "install-check: the ordika package is installed here; this check installs and removes it, so remove it first"
  exit 1
fi
had_user=0
getent passwd ordika-server >/dev/null && had_user=1

work=$(mktemp -d)
ours=0
cleanup() {
  if [ "$ours" = 1 ] && installed; then
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ordika >/dev/null || true
  fi
  if [ "$had_user" = 0 ] && getent passwd ordika-server >/dev/null; then
    $SUDO userdel ordika-server || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
step() { echo "install-check: $*"; }
die() { echo "install-check: FAILED: $*"; exit 1; }

step "building the package"
deb=$(bash tools/package.sh "$dir" | tail -n1)
deb=$(realpath "$deb")
app_id=$(sed -n 's/^ORDIKA_APP_ID:STRING=//p' "$dir/CMakeCache.txt")

step "staged install: files, validators, manual pages, unit"
rc=0
bash tests/install/check_install.sh "$dir" /usr "$app_id" gui || rc=$?
[ "$rc" = 0 ] || die "staged install check (exit $rc)"

step "package: $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Section Depends Recommends Maintainer
for field in Section Maintainer Description; do
  [ -n "$(dpkg-deb --field "$deb" "$field")" ] || die "the package has no $field"
done
dpkg-deb --field "$deb" Depends | grep -q libgtk-3 || die "the package does not depend on GTK"

step "apt-get install"
cp "$deb" "$work/"
chmod 755 "$work"
ours=1
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$work/$(basename "$deb")" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; die "apt-get install"; }
installed || die "the package is not installed"
dpkg -L ordika >"$work/files"
grep -qx "/usr/share/applications/$app_id.desktop" "$work/files" || die "no desktop entry in the package"
getent passwd ordika-server >/dev/null || die "no ordika-server system user"

step "installed programs"
for prog in ordika ordika-cli ordika-server; do
  [ "$(command -v $prog)" = "/usr/bin/$prog" ] || die "$prog is not /usr/bin/$prog"
done
/usr/bin/ordika-cli --help | grep -q "^Usage: ordika-cli" || die "ordika-cli --help"
rc=0
/usr/bin/ordika-server >/dev/null 2>&1 || rc=$?
[ "$rc" = 2 ] || die "ordika-server usage exits $rc"
if command -v man >/dev/null; then
  for page in ordika ordika-cli ordika-server; do
    [ "$(man -w "$page" 2>/dev/null)" = "/usr/share/man/man1/$page.1.gz" ] || die "man $page"
  done
fi

step "the installed window under Xvfb, fresh HOME"
rc=0
bash tests/e2e/run.sh first_start /usr/bin/ordika /usr/bin/ordika-cli "$work/e2e" || rc=$?
[ "$rc" = 0 ] || die "the installed ordika did not show its window (exit $rc)"

step "apt-get remove"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq ordika >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; die "apt-get remove"; }
installed && die "the package is still installed"
left=0
while read -r f; do
  if [ -e "$f" ] && [ ! -d "$f" ]; then
    echo "left behind: $f"
    left=1
  fi
done <"$work/files"
[ "$left" = 0 ] || die "files left after removal"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq ordika >/dev/null 2>&1 || true
step "passed"
