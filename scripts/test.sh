#!/usr/bin/env bash
# Builds and runs every test. With "asan", the same suite runs under
# AddressSanitizer and UndefinedBehaviorSanitizer. The default run also
# builds the fuzz targets (the "fuzz" preset, clang) and runs each for a few
# seconds from its seeds. The fault matrix is part of the suite; its figures
# are written beside it in the build folder (scripts/fault-matrix.sh runs it
# alone and prints them).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
if [ "$preset" = default ]; then
  scripts/fuzz.sh smoke
fi
