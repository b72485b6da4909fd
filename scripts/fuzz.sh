#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ (built with the "fuzz" preset: clang,
# AddressSanitizer and UndefinedBehaviorSanitizer), one target at a time.
#
#   scripts/fuzz.sh [--time SECONDS | --runs N] [--work FOLDER] [TARGET ...]
#       Runs each TARGET (all when none is named) for SECONDS (default 60) or
#       for N inputs. Each target's corpus grows in FOLDER/<target>/corpus
#       (default build/fuzz/work), seeded from fuzz/corpus/<target>/, and is
#       merged (minimised) after the run; the repository's seeds are only
#       read. A crash, hang or leak is written to FOLDER/<target>/ and makes
#       the script fail. One line per target sums the run up.
#   scripts/fuzz.sh list     names the targets
#   scripts/fuzz.sh smoke    builds the targets and runs each for a few
#                            seconds from its seeds, as the test command does
#   scripts/fuzz.sh seeds    writes fuzz/corpus/ anew with the project's own
#                            writers (nuva-fuzz-seeds)
#
# Long runs share the machine: they run under "nice -n 10" in one process.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/fuzz

# The targets this build has (fuzz/CMakeLists.txt decides which are built).
targets=()
discover() {
  targets=()
  for f in "$build"/fuzz/*_fuzz; do
    [ -x "$f" ] && targets+=("$(basename "${f%_fuzz}")")
  done
  return 0
}

configure_and_build() {
  [ -f "$build/build.ninja" ] || cmake --preset fuzz >/dev/null
  local log="$build/build.log"
  echo "Building the fuzz targets (log: $log) ..."
  if ! cmake --build --preset fuzz -j "$(nproc)" "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz: the build failed; the whole log is $log" >&2
    exit 1
  fi
}

case "${1:-}" in
  list)
    configure_and_build
    discover
    printf '%s\n' "${targets[@]}"
    exit 0
    ;;
  smoke)
    configure_and_build
    exec ctest --preset fuzz -j "$(nproc)"
    ;;
  seeds)
    configure_and_build --target nuva_fuzz_seeds
    rm -rf "$build/seeds"
    "$build/fuzz/nuva-fuzz-seeds" "$build/seeds"
    for t in "$build"/seeds/*/; do
      name=$(basename "$t")
      mkdir -p "fuzz/corpus/$name"
      cp "$t"/* "fuzz/corpus/$name/"
    done
    echo "Seeds written to fuzz/corpus/."
    exit 0
    ;;
esac

limit=(-max_total_time=60)
work="$build/work"
chosen=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) limit=(-max_total_time="$2"); shift 2 ;;
    --runs) limit=(-runs="$2"); shift 2 ;;
    --work) work="$2"; shift 2 ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    -*) echo "fuzz: unknown option $1" >&2; exit 2 ;;
    *) chosen+=("$1"); shift ;;
  esac
done

configure_and_build
discover
for t in "${chosen[@]}"; do
  if ! printf '%s\n' "${targets[@]}" | grep -qx "$t"; then
    echo "fuzz: no target $t (scripts/fuzz.sh list names them)" >&2
    exit 2
  fi
done
[ ${#chosen[@]} -gt 0 ] || chosen=("${targets[@]}")
mkdir -p "$work"
work=$(cd "$work" && pwd)
failed=0
for t in "${chosen[@]}"; do
  dir="$work/$t"
  mkdir -p "$dir/corpus"
  log="$dir/run.log"
  echo "== $t: ${limit[*]} (log: $log)"
  start=$(date +%s)
  rc=0
  # The processor time the run had, besides its length: on a shared machine
  # inputs per processor second compare targets and runs, inputs per second
  # mostly measure the other users.
  cpu=()
  [ -x /usr/bin/time ] && cpu=(/usr/bin/time -f '%U %S' -o "$dir/cpu")
  rm -f "$dir/cpu"
  NUVA_TIME_SCALE=0 nice -n 10 "${cpu[@]}" "$build/fuzz/${t}_fuzz" "${limit[@]}" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  seconds=$(( $(date +%s) - start ))
  cpuSeconds=$(awk 'NF == 2 && $1 ~ /^[0-9.]+$/ { printf "%.0f", $1 + $2 }' "$dir/cpu" 2>/dev/null || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1 || true)
  if [ "$rc" -eq 0 ]; then
    result="no crash, hang or leak"
  else
    result="FAILED (exit $rc): see $log and the crash-/timeout-/leak- files in $dir"
    failed=1
  fi
  echo "$t: ${runs:-?} inputs, ${speed:-?} execs/s, ${seconds} s (${cpuSeconds:-?} s of processor), ${cov:-cov ?}: $result"
  if [ "$rc" -eq 0 ]; then
    # Keep the corpus small: only inputs that add coverage stay.
    rm -rf "$dir/merged"
    mkdir -p "$dir/merged"
    if NUVA_TIME_SCALE=0 nice -n 10 "$build/fuzz/${t}_fuzz" -merge=1 -timeout=20 -rss_limit_mb=2048 \
      "$dir/merged" "$dir/corpus" "$root/fuzz/corpus/$t" >"$dir/merge.log" 2>&1; then
      rm -rf "$dir/corpus"
      mv "$dir/merged" "$dir/corpus"
    fi
  fi
done
exit $failed
