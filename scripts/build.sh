#!/usr/bin/env bash
# Configures and builds a preset (default: "default"). The compiler's output
# goes to build/<preset>/build.log; its end is shown when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
log="build/$preset/build.log"
echo "Building the '$preset' preset (log: $log) ..."
if ! cmake --build --preset "$preset" -j "$(nproc)" >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  echo "build: failed; the whole log is $log" >&2
  exit 1
fi
echo "Built."
