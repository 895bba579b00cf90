#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#  1. every test of the normal build;
#  2. the platform, unicode, core and png tests again under AddressSanitizer and
#     UndefinedBehaviorSanitizer;
#  3. each fuzz target for a bounded time.
# HIVESCOPE_QUICK=1 runs only the first step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/deps.sh"

echo "== build and test"
"$root/scripts/build.sh" build
ctest --test-dir "$root/build" -j"$jobs" --output-on-failure --timeout 900

if [ "${HIVESCOPE_QUICK:-0}" = 1 ]; then exit 0; fi

echo "== platform, unicode, core and png under ASan/UBSan"
"$root/scripts/build.sh" build-asan -DHIVESCOPE_SANITIZE=ON -DHIVESCOPE_WITH_GUI=OFF -DHIVESCOPE_WITH_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" -j"$jobs" --output-on-failure --timeout 1800 -L 'platform|unicode|core|png'

echo "== fuzz targets (bounded)"
CC=clang CXX=clang++ "$root/scripts/build.sh" build-fuzz -DHIVESCOPE_FUZZ=ON -DHIVESCOPE_WITH_GUI=OFF \
  -DHIVESCOPE_WITH_BENCH=OFF -DBUILD_TESTING=OFF
shopt -s nullglob
for fuzzer in "$root"/build-fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="$root/fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  seeds=()
  [ -d "$corpus" ] && seeds+=("$corpus")
  echo "-- $name for ${HIVESCOPE_FUZZ_SECONDS:-60} s"
  "$fuzzer" -max_total_time="${HIVESCOPE_FUZZ_SECONDS:-60}" -rss_limit_mb=2048 -print_final_stats=0 \
    "$work" "${seeds[@]}" 2>&1 | tail -n 3
  rm -rf "$work"
done
echo "fuzz: done"
