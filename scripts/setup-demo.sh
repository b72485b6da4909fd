#!/usr/bin/env bash
# Shows Setup, the desktop wizard, at work on your display:
#   1. builds the system (preset "default" unless another is named);
#   2. starts a factory-new emulated handheld whose flash holds an older ROM
#      (A02, 03-05-03) on a private cable in a fresh temporary folder;
#   3. starts Setup from the demo installation folder against it. Click
#      "Update ROM" and follow the pages; the handheld restarts into the
#      flasher and then runs the new ROM (A03).
# When Setup ends, the handheld's report and a picture of its screen are
# shown, and the handheld is stopped. It needs a display (DISPLAY or
# WAYLAND_DISPLAY) where you can click. NUVA_TIME_SCALE (default here 0.1)
# sets the pace; 1 is real time.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/build.sh "$preset"

install_dir="$PWD/build/$preset/demo-install"
for file in setup.ini Setup nuva-handheld nuva-image NUVA7INVOKE.DLL Reflash.exe; do
  if [ ! -f "$install_dir/$file" ]; then
    echo "setup-demo: the installation folder $install_dir has no $file" >&2
    exit 1
  fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "setup-demo: no display to show Setup on (DISPLAY or WAYLAND_DISPLAY is not set)" >&2
  exit 1
fi

export NUVA_TIME_SCALE="${NUVA_TIME_SCALE:-0.1}"
source scripts/demo-handheld.sh

echo
echo "== Setup  (NUVA_TIME_SCALE=$NUVA_TIME_SCALE) =="
status=0
"$install_dir/Setup" || status=$?

echo
echo "== The handheld now =="
# After an update the handheld restarts into the flasher, writes its flash
# and starts the new ROM: wait until it has started and runs no program.
for _ in $(seq 600); do
  json="$(ctl status --json 2>/dev/null || true)"
  if grep -q '"started":true' <<<"$json" && grep -q '"running":null' <<<"$json"; then
    break
  fi
  sleep 0.5
done
ctl status
screen="$work/screen.png"
if ctl screenshot "$screen"; then
  echo "Its screen: $screen"
fi
echo "The demo's files (handheld state and log): $work"
exit "$status"
