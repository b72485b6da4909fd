#!/usr/bin/env bash
# Runs a real ROM update of an emulated handheld, start to end:
#   1. builds the system (preset "default" unless another is named) and shows
#      its demo installation folder;
#   2. starts a factory-new emulated handheld (nuva-handheld) whose flash
#      holds an older ROM (A02, 03-05-03), on a private cable in a fresh
#      temporary folder;
#   3. runs `nuva-flash update --yes` from the installation folder, as a user
#      would run Setup there, with its progress bars;
#   4. shows what the handheld reports afterwards, saves a picture of its
#      screen, and stops it.
# NUVA_TIME_SCALE (default here 0.05: a 15-minute update in well under a
# minute) may be set to watch it slower or faster; 1 is real time.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/build.sh "$preset"

install_dir="$PWD/build/$preset/demo-install"
for file in setup.ini nuva-flash nuva-handheld nuva-image NUVA7INVOKE.DLL Reflash.exe; do
  if [ ! -f "$install_dir/$file" ]; then
    echo "demo: the installation folder $install_dir has no $file" >&2
    exit 1
  fi
done

echo
echo "Demo installation folder: $install_dir"
(cd "$install_dir" && find . -type f -printf '%P\n' | sort | while read -r file; do
  printf '  %12d  %s\n' "$(stat -c %s "$file")" "$file"
done)
for image in "$install_dir"/images/*; do
  echo
  "$install_dir/nuva-image" inspect "$image"
done

export NUVA_TIME_SCALE="${NUVA_TIME_SCALE:-0.05}"
work="$(mktemp -d "${TMPDIR:-/tmp}/nuva-demo.XXXXXX")"
export NUVA_LINK="unix:$work/link"
state="$work/handheld"
ctl() { "$install_dir/nuva-handheld" ctl --state "$state" "$@"; }

echo
echo "== A handheld with an older ROM =="
"$install_dir/nuva-image" make --os 2003 --class advanced --lang EN --date 03050300 --name A02 \
  -o "$work/factory-A02.nb0"
"$install_dir/nuva-handheld" --state "$state" --rom "$work/factory-A02.nb0" >"$work/handheld.log" 2>&1 &
handheld_pid=$!

stop_handheld() {
  if kill -0 "$handheld_pid" 2>/dev/null; then
    ctl quit >/dev/null 2>&1 || true
    for _ in $(seq 100); do
      kill -0 "$handheld_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$handheld_pid" 2>/dev/null || true
  fi
  wait "$handheld_pid" 2>/dev/null || true
}
trap stop_handheld EXIT

# Started means: the process serves its control socket and the handheld has
# finished its start (its ROM answers).
started=no
for _ in $(seq 300); do
  if ! kill -0 "$handheld_pid" 2>/dev/null; then
    echo "demo: the emulated handheld ended at its start:" >&2
    cat "$work/handheld.log" >&2
    exit 1
  fi
  if ctl status --json 2>/dev/null | grep -q '"started":true'; then
    started=yes
    break
  fi
  sleep 0.1
done
if [ "$started" != yes ]; then
  echo "demo: the emulated handheld did not start within 30 s (log: $work/handheld.log)" >&2
  exit 1
fi
ctl status

echo
echo "== nuva-flash update --yes  (NUVA_TIME_SCALE=$NUVA_TIME_SCALE) =="
status=0
"$install_dir/nuva-flash" update --yes || status=$?

echo
echo "== The handheld now =="
ctl status --json
echo
screen="$work/screen.png"
if ctl screenshot "$screen"; then
  echo "Its screen: $screen"
fi
echo "The demo's files (handheld state and log): $work"
if [ "$status" -ne 0 ]; then
  echo "demo: nuva-flash ended with exit code $status (see nuva-flash --help)" >&2
fi
exit "$status"
