#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of Ordika (CPack, DEB generator) and prints its
# path. Usage: tools/package.sh [BUILD_DIR] (default build-package).
# The build directory is configured for the prefix /usr, where the package
# installs, since installed files name their final paths; an existing build
# directory keeps its other settings, so CI packages the build it tested.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
bash tools/deps.sh
flags=(-DCMAKE_INSTALL_PREFIX=/usr)
[ -f "$dir/CMakeCache.txt" ] || flags+=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DORDIKA_TESTS=OFF)
cmake -S . -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir"
rm -f "$dir"/ordika_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/ordika_*.deb)
dpkg-deb --info "$deb" >/dev/null
echo "$deb"
