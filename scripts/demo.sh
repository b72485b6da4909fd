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
source scripts/demo-handheld.sh

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
