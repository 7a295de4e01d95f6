#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one end-to-end journey of the ordika window: a private X server, a
# session bus with the accessibility bus, and a temporary HOME.
# Usage: run.sh JOURNEY ORDIKA ORDIKA_CLI OUT_DIR [ORDIKA_SERVER]
# (the account server, for the journeys that sign in and synchronise)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
journey=$1
export ORDIKA_BIN=$2 ORDIKA_CLI=$3 ORDIKA_E2E_OUT=$4 ORDIKA_SERVER_BIN=${5:-}
for tool in Xvfb dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool missing (tools/deps.sh)"; exit 77; }
done
/usr/bin/python3 -c "import dogtail, pyatspi, Xlib" 2>/dev/null || { echo "e2e: dogtail missing"; exit 77; }

export HOME=$(mktemp -d /tmp/ordika-e2e-XXXXXX)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$HOME"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$HOME/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$HOME/display" ] && break; sleep 0.1; done
[ -s "$HOME/display" ] || { echo "e2e: Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$HOME/display")
export GDK_BACKEND=x11 GTK_THEME=Adwaita NO_AT_BRIDGE=
unset WAYLAND_DISPLAY SESSION_MANAGER
rc=0
timeout -k 5 170 dbus-run-session -- /usr/bin/python3 "$here/journeys.py" "$journey" || rc=$?
exit $rc
