#!/usr/bin/env bash
# Runs the fault matrix alone (scripts/test.sh runs it with the rest):
# update, backup and restore by nuva-flash against the emulated handheld, the
# cable pulled at 21 moments of each and every fault the handheld can be made
# to have, each followed by a second attempt. The figures of each part are
# written beside the test in the build folder
# (fault_matrix_<operation>_<part>.txt).
#
# To chase one trial, run the test program itself with the trial's number
# as printed ("trial 13 (...)") and the part it falls to, e.g.
#   NUVA_FAULT_TRIALS=13 NUVA_FAULT_VERBOSE=1 \
#     build/default/tests/e2e/fault_matrix/fault_matrix_tests \
#     --gtest_filter='Chunk/FaultMatrixChunk.Restore/2'
# NUVA_FAULT_VERBOSE prints both attempts' output and the handheld's log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh default
ctest --preset default -j "$(nproc)" -R '^Chunk/FaultMatrixChunk\.'
cat build/default/tests/e2e/fault_matrix/fault_matrix_*.txt
