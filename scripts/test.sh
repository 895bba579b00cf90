#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#  1. every test of the normal build;
#  2. the platform, unicode, core and png tests again under AddressSanitizer and
#     UndefinedBehaviorSanitizer;
#  3. each fuzz target for a bounded time.
# HIVESCOPE_QUICK=1 runs only the first step.
# Each stage prints how long it took, and a table of them closes the run
# (a failed one too), so the time CI needs can be watched as the suite grows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

started=$SECONDS
stage_name=""
stage_started=$SECONDS
stage_names=()
stage_seconds=()
duration() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
end_stage() {
  [ -n "$stage_name" ] || return 0
  local took=$((SECONDS - stage_started))
  stage_names+=("$stage_name")
  stage_seconds+=("$took")
  echo "-- $stage_name: $(duration "$took")"
  stage_name=""
}
# Ends the stage before and starts the one named.
stage() {
  end_stage
  stage_name=$1
  stage_started=$SECONDS
  echo "== $1"
}
stage_table() {
  end_stage
  echo "== time per stage"
  local i
  for i in "${!stage_names[@]}"; do
    printf '   %-46s %s\n' "${stage_names[$i]}" "$(duration "${stage_seconds[$i]}")"
  done
  printf '   %-46s %s\n' "total" "$(duration $((SECONDS - started)))"
}
trap stage_table EXIT

stage "packages"
"$root/scripts/deps.sh"

stage "build"
"$root/scripts/build.sh" build
stage "test"
ctest --test-dir "$root/build" -j"$jobs" --output-on-failure --timeout 900

if [ "${HIVESCOPE_QUICK:-0}" = 1 ]; then exit 0; fi

stage "build under ASan/UBSan"
"$root/scripts/build.sh" build-asan -DHIVESCOPE_SANITIZE=ON -DHIVESCOPE_WITH_GUI=OFF -DHIVESCOPE_WITH_BENCH=OFF
stage "platform, unicode, core, png, editor and crashreport under ASan/UBSan"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" -j"$jobs" --output-on-failure --timeout 1800 -L 'platform|unicode|core|png|editor|crashreport'

stage "build of the fuzz targets"
CC=clang CXX=clang++ "$root/scripts/build.sh" build-fuzz -DHIVESCOPE_FUZZ=ON -DHIVESCOPE_WITH_GUI=OFF \
  -DHIVESCOPE_WITH_BENCH=OFF -DBUILD_TESTING=OFF
stage "fuzz targets (bounded)"
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
