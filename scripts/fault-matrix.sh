#!/usr/bin/env bash
# Runs the fault matrix: update, backup and restore by nuva-flash against the
# emulated handheld, the cable pulled at 21 moments of each and every fault
# the handheld can be made to have, each followed by a second attempt. The
# figures of each part are written beside the test in the build folder
# (fault_matrix_<operation>_<part>.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh default
ctest --preset default -j "$(nproc)" -R '^Chunk/FaultMatrixChunk\.'
cat build/default/tests/e2e/fault_matrix/fault_matrix_*.txt
