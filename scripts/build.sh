#!/usr/bin/env bash
# Configures and builds one build tree:
#   build.sh DIR [--target NAME] [cmake options...]
# The tree is configured on first use and whenever options are given (cheap
# when nothing changed), so a tree never keeps options from an older call.
set -euo pipefail
dir=$1; shift
target=()
if [ "${1:-}" = "--target" ]; then target=(--target "$2"); shift 2; fi
root=$(cd "$(dirname "$0")/.." && pwd)
if [ ! -f "$root/$dir/build.ninja" ] || [ $# -gt 0 ]; then
  cmake -S "$root" -B "$root/$dir" -G Ninja "$@" >/dev/null
fi
cmake --build "$root/$dir" -j"$(nproc)" "${target[@]}"
