#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary DESTDIR and checks what lands there:
# exactly the expected files, a desktop entry and metainfo that the
# freedesktop validators accept and that name each other, icons of the sizes
# their directories claim, manual pages that groff reads without a warning
# and that cover every command and option of the programs, systemd units
# that start the installed server with options it knows, and a balancer's
# example that haproxy accepts.
# Usage: check_install.sh BUILD_DIR PREFIX APP_ID [gui]
# Exit 77 (skipped) when a validator of tools/deps.sh is missing.
set -euo pipefail
build=$1 prefix=$2 app_id=$3 gui=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
# The project's version, which the metainfo and the manual pages announce.
version=$(sed -n 's/^project(ordika VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
[ -n "$version" ] || { echo "install check: no project version in CMakeLists.txt"; exit 1; }
for tool in desktop-file-validate appstreamcli groff; do
  command -v "$tool" >/dev/null || { echo "install check: $tool missing (tools/deps.sh)"; exit 77; }
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
DESTDIR="$tmp/root" cmake --install "$build" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
root="$tmp/root$prefix"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- The file list -------------------------------------------------------------
sed -e "s/@APP_ID@/$app_id/g" -e '/^#/d' -e '/^$/d' "$here/expected_files.txt" |
  while read -r kind path; do
    [ "$kind" = gui ] && [ -z "$gui" ] && continue
    echo "$path"
  done | sort >"$tmp/expected"
# The guide is whatever pages its languages have; checked separately below.
(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | grep -v '^share/doc/ordika/guide/' | sort) >"$tmp/actual"
if ! diff -u "$tmp/expected" "$tmp/actual" >"$tmp/diff"; then
  fail "installed files differ from expected_files.txt (- missing, + unexpected):"
  sed -n '3,$p' "$tmp/diff"
fi
# Each language of the guide opens at index.html, says which language it is
# in, and its links within the guide lead somewhere.
if [ -d "$root/share/doc/ordika/guide" ]; then
  for lang in "$root"/share/doc/ordika/guide/*/; do
    [ -f "$lang/index.html" ] || fail "guide $(basename "$lang") has no index.html"
  done
  python3 "$here/check_guide.py" "$root/share/doc/ordika/guide" || fail "guide pages"
fi
for prog in ordika ordika-cli ordika-server; do
  f="$root/bin/$prog"
  if [ -e "$f" ] && [ ! -x "$f" ]; then fail "bin/$prog is not executable"; fi
done

# --- Desktop entry and metainfo ------------------------------------------------------
if [ -n "$gui" ]; then
  desktop="$root/share/applications/$app_id.desktop"
  metainfo="$root/share/metainfo/$app_id.metainfo.xml"
  desktop-file-validate "$desktop" >"$tmp/dfv" 2>&1 || true
  [ -s "$tmp/dfv" ] && { fail "desktop-file-validate:"; cat "$tmp/dfv"; }
  appstreamcli validate --no-net --no-color "$metainfo" >"$tmp/asv" 2>&1 || { fail "appstreamcli validate:"; cat "$tmp/asv"; }
  grep -qx "Icon=$app_id" "$desktop" || fail "desktop entry: Icon is not $app_id"
  exec_prog=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  [ -x "$root/bin/$exec_prog" ] || fail "desktop entry: Exec=$exec_prog is not an installed program"
  for lang in fr es de ru; do
    grep -q "^Comment\[$lang\]=" "$desktop" || fail "desktop entry: no comment in $lang"
    grep -q "^GenericName\[$lang\]=" "$desktop" || fail "desktop entry: no generic name in $lang"
  done
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "metainfo: launchable is not $app_id.desktop"
  grep -q "<release version=\"$version\" date=\"[0-9-]*\">" "$metainfo" || fail "metainfo: no dated release $version"

  # Each bitmap icon is the size its directory names.
  for png in "$root"/share/icons/hicolor/*x*/apps/"$app_id".png; do
    [ -e "$png" ] || continue
    want=$(basename "$(dirname "$(dirname "$png")")")
    # Width and height: big-endian words at bytes 16 and 20 of the PNG header.
    read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
      awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
    [ "${w}x${h}" = "$want" ] || fail "icon $want is ${w}x${h}"
  done
fi

# The Debian changelog parses and names this release.
if command -v dpkg-parsechangelog >/dev/null; then
  v=$(gzip -dc "$root/share/doc/ordika/changelog.gz" | dpkg-parsechangelog -l - -S Version 2>&1) || true
  [ "$v" = "$version" ] || fail "changelog: version '$v', not $version"
fi

# The copyright file is machine-readable: a format line and a stanza for all files.
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
  "$root/share/doc/ordika/copyright" || fail "copyright: no format line"
grep -q '^Files: \*$' "$root/share/doc/ordika/copyright" || fail "copyright: no stanza for every file"
# Free software: the same licence in the copyright file and the metainfo.
grep -q '^License: GPL-3.0-or-later$' "$root/share/doc/ordika/copyright" || fail "copyright: not GPL-3.0-or-later"
if [ -n "${metainfo:-}" ]; then
  grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" || fail "metainfo: not GPL-3.0-or-later"
fi

# --- Manual pages --------------------------------------------------------------------
for gz in "$root"/share/man/man1/*.1.gz; do
  page=$(basename "$gz")
  if ! gzip -dc "$gz" | groff -man -ww -z 2>"$tmp/groff"; then fail "$page does not format"; fi
  [ -s "$tmp/groff" ] && { fail "groff warns about $page:"; cat "$tmp/groff"; }
done
# Each page names the release that the metainfo announces.
for gz in "$root"/share/man/man1/*.1.gz; do
  page=$(basename "$gz")
  gzip -dc "$gz" | grep -q "^\.TH .* \"Ordika $version\"" || fail "$page does not name version $version"
done
gzip -dc "$root/share/man/man1/ordika-cli.1.gz" >"$tmp/cli.1"
gzip -dc "$root/share/man/man1/ordika-server.1.gz" >"$tmp/server.1"
# Every command the tool lists has its entry: the first word of each
# " | " or ", " separated form in the command section of --help (the
# description follows after a run of spaces).
"$root/bin/ordika-cli" --help >"$tmp/cli.help"
sed -n '/^Commands:/,/^$/p' "$tmp/cli.help" | sed -e '1d' -e 's/^  //' -e 's/   *.*//' |
  sed -e 's/ | /\n/g' -e 's/, /\n/g' | awk 'NF { print $1 }' | sort -u >"$tmp/cli.commands"
[ "$(wc -l <"$tmp/cli.commands")" -ge 20 ] || fail "too few commands found in ordika-cli --help"
while read -r cmd; do
  grep -Eq "^\.B[IR]?( |.*[ \"])$cmd( |\"|$)" "$tmp/cli.1" || fail "ordika-cli.1 has no entry for '$cmd'"
done <"$tmp/cli.commands"
# Every option the server's usage names is documented, and so is every command.
rc=0
"$root/bin/ordika-server" >/dev/null 2>"$tmp/server.usage" || rc=$?
[ "$rc" = 2 ] || fail "ordika-server without arguments exits $rc, not 2"
grep -o -- '--[a-z-]*' "$tmp/server.usage" | sort -u >"$tmp/server.options"
while read -r opt; do
  grep -qF -- "\\-\\-${opt#--}" "$tmp/server.1" || fail "ordika-server.1 lacks $opt"
done <"$tmp/server.options"
for cmd in serve useradd userdel users migrate publish traces; do
  grep -q "^\.BI\? $cmd" "$tmp/server.1" || fail "ordika-server.1 has no entry for $cmd"
done

# --- The server's units ------------------------------------------------------------------
# ordika-server.service, and the template of one instance per port on a
# shared database.
for name in ordika-server.service ordika-server@.service; do
  unit="$root/lib/systemd/system/$name"
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  [ "${exec_start%% *}" = "$prefix/bin/ordika-server" ] || fail "$name starts '${exec_start%% *}', not $prefix/bin/ordika-server"
  [ "$(echo "$exec_start" | awk '{ print $2 }')" = serve ] || fail "$name does not run 'serve'"
  for opt in $(echo "$exec_start" | grep -o -- '--[a-z-]*'); do
    grep -qx -- "$opt" "$tmp/server.options" || fail "$name passes $opt, which ordika-server does not know"
  done
  data=$(echo "$exec_start" | sed -n 's/.*--data \([^ ]*\).*/\1/p')
  state=$(sed -n 's/^StateDirectory=//p' "$unit")
  [ "$data" = "/var/lib/$state" ] || fail "$name's data directory $data is not its state directory /var/lib/$state"
  user=$(sed -n 's/^User=//p' "$unit")
  grep -q "^u $user " "$root/lib/sysusers.d/ordika-server.conf" || fail "sysusers.d does not create $name's user $user"
  for key in NoNewPrivileges=true ProtectSystem=strict ProtectHome=true PrivateTmp=true; do
    grep -qx "$key" "$unit" || fail "$name lacks $key"
  done
  if command -v systemd-analyze >/dev/null; then
    # Offline: the unit's syntax and directives, on a copy (an instance of
    # the template) that starts the staged binary (the installed path is
    # checked above).
    copy="$tmp/${name/@/@8001}"
    sed "s|^ExecStart=$prefix/|ExecStart=$root/|" "$unit" >"$copy"
    if ! SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no "$copy" >"$tmp/verify" 2>&1; then
      fail "systemd-analyze verify $name:"; cat "$tmp/verify"
    fi
  fi
done
grep -qx "CapabilityBoundingSet=CAP_NET_BIND_SERVICE" "$root/lib/systemd/system/ordika-server.service" ||
  fail "ordika-server.service may do more than bind port 443"
grep -qx "CapabilityBoundingSet=" "$root/lib/systemd/system/ordika-server@.service" ||
  fail "ordika-server@.service keeps capabilities"
# The balancer's example is a configuration haproxy takes, sending the
# PROXY line the instances are told to expect.
if command -v haproxy >/dev/null; then
  haproxy -c -q -f "$root/share/doc/ordika/examples/haproxy.cfg" >"$tmp/haproxy" 2>&1 ||
    { fail "haproxy -c examples/haproxy.cfg:"; cat "$tmp/haproxy"; }
fi
grep -q "send-proxy" "$root/share/doc/ordika/examples/haproxy.cfg" || fail "examples/haproxy.cfg sends no PROXY line"

if [ "$failures" -gt 0 ]; then
  echo "install check: $failures failure(s)"
  exit 1
fi
echo "install check: passed"
