#!/usr/bin/env bash
# Installs what is missing, builds, and starts Hivescope with the given arguments.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" build --target hivescope >/dev/null
exec "$root/build/app/hivescope" "$@"
