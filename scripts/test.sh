#!/usr/bin/env bash
# Builds and runs every test. With "asan", the same suite runs under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/build.sh "$preset"
ctest --preset "$preset" -j "$(nproc)"
