#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, the libraries instrumented for coverage) and
# runs each for the given number of seconds (default 20), starting from its
# seed corpus in fuzz/corpus/<target without "fuzz_">. New inputs go to a
# scratch directory; crashes are left in build-fuzz/crashes/. Exits non-zero
# when a target fails.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-20}
shift || true
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORDIKA_FUZZ=ON -DORDIKA_GUI=OFF -DORDIKA_TESTS=OFF \
  -DORDIKA_SANITIZE=ON -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*.cc; do targets+=("$(basename "$f" .cc)"); done
fi
cmake --build "$dir" -j2 --target "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/crashes"
failed=0
for t in "${targets[@]}"; do
  seeds="fuzz/corpus/${t#fuzz_}"
  work=$(mktemp -d)
  dirs=("$work")
  [ -d "$seeds" ] && dirs+=("$seeds")
  echo "== $t ($secs s)"
  if ! "$dir/fuzz/$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$dir/crashes/$t-" -print_final_stats=1 "${dirs[@]}" 2>"$dir/$t.log"; then
    echo "$t failed; see $dir/$t.log"
    tail -40 "$dir/$t.log"
    failed=1
  else
    grep -E "stat::number_of_executed_units|cov:" "$dir/$t.log" | tail -2 || true
  fi
  rm -rf "$work"
done
exit $failed
