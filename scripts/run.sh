#!/usr/bin/env bash
# Installs what is missing, builds, and starts Hivescope with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" build -DBUILD_TESTING=OFF -DHIVESCOPE_WITH_BENCH=OFF >/dev/null
exec "$root/build/app/hivescope" "$@"
