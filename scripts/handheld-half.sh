#!/usr/bin/env bash
# The handheld half of an update, for real through the cable: starts an
# emulated handheld (nuva-handheld) with an older factory ROM, lets the
# device link of Setup copy the update image to it, place the flasher, write
# the hand-over and restart it; the handheld flashes on its own and comes
# back. Prints every step, then checks what the handheld reports and what its
# flash holds.
#
#   scripts/handheld-half.sh [BUILD_DIR] [--class advanced|basic] [--from 2002|2003]
#
# BUILD_DIR defaults to build/default (as scripts/build.sh leaves it).
# --class picks the handheld's memory class (default advanced); --from the
# generation of its factory ROM (default 2003: a plain update that keeps the
# built-in storage; 2002 changes the generation and erases it). The update
# image is the demo installation's image for the class when the build has
# one, else one made here with nuva-image. NUVA_TIME_SCALE defaults to 0.01
# (seconds instead of a quarter of an hour); 1 runs at the handheld's pace.
#
# Exit code 0 only when the handheld reports the new ROM and the flash holds
# the image byte for byte; 1 when it does not; 2 on a wrong command line or
# an incomplete build.
set -euo pipefail

usage() {
  echo "usage: scripts/handheld-half.sh [BUILD_DIR] [--class advanced|basic] [--from 2002|2003]" >&2
  exit 2
}

build_dir=""
class=advanced
from=2003
while [ $# -gt 0 ]; do
  case "$1" in
    --class)
      [ $# -ge 2 ] || usage
      class="$2"
      shift 2
      ;;
    --from)
      [ $# -ge 2 ] || usage
      from="$2"
      shift 2
      ;;
    -h | --help) usage ;;
    -*)
      echo "handheld-half: unknown option $1" >&2
      usage
      ;;
    *)
      [ -z "$build_dir" ] || usage
      build_dir="$1"
      shift
      ;;
  esac
done
case "$class" in advanced | basic) ;; *) echo "handheld-half: --class takes advanced or basic" >&2; usage ;; esac
case "$from" in
  2003) factory_date=01150300 factory_name=A01 ;;
  2002) factory_date=11200200 factory_name=A02 ;;
  *) echo "handheld-half: --from takes 2002 or 2003" >&2; usage ;;
esac

repo="$(cd "$(dirname "$0")/.." && pwd)"
if [ -z "$build_dir" ]; then
  build_dir="$repo/build/default"
fi
if [ ! -d "$build_dir" ]; then
  echo "handheld-half: no build folder at $build_dir (build first: scripts/build.sh)" >&2
  exit 2
fi
build_dir="$(cd "$build_dir" && pwd)"

handheld="$build_dir/handheld-sim/app/nuva-handheld"
image_tool="$build_dir/tools/image/nuva-image"
driver="$build_dir/tests/e2e/half-driver/handheld_half_driver"
for program in "$handheld" "$image_tool" "$driver" "$(dirname "$driver")/NUVA7INVOKE.DLL" \
               "$(dirname "$driver")/Reflash.exe"; do
  if [ ! -f "$program" ]; then
    echo "handheld-half: $program is missing (build first: scripts/build.sh)" >&2
    exit 2
  fi
done

export NUVA_TIME_SCALE="${NUVA_TIME_SCALE:-0.01}"
work="$(mktemp -d /tmp/nuva-half.XXXXXX)"
state="$work/state"
export NUVA_LINK="unix:$work/link"
handheld_pid=""

ctl() { "$handheld" ctl --state "$state" "$@"; }

cleanup() {
  if [ -n "$handheld_pid" ] && kill -0 "$handheld_pid" 2>/dev/null; then
    ctl quit >/dev/null 2>&1 || true
    for _ in $(seq 50); do
      kill -0 "$handheld_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$handheld_pid" 2>/dev/null || true
    wait "$handheld_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }

step "Images (time scale $NUVA_TIME_SCALE)"
image="$build_dir/demo-install/images/A03-$class.nb0"
if [ ! -f "$image" ]; then
  image="$work/update.nb0"
  "$image_tool" make --os 2003 --class "$class" --lang EN --date 04100300 --name A03 -o "$image"
fi
echo "update image:  $image"
"$image_tool" make --os "$from" --class "$class" --lang EN --date "$factory_date" --name "$factory_name" \
  -o "$work/factory.nb0"
echo "factory ROM:   Pocket PC $from, $factory_date $factory_name"

step "Starting the handheld ($class class) in $state"
"$handheld" --state "$state" --rom "$work/factory.nb0" --class "$class" \
  >"$work/handheld.out" 2>"$work/handheld.log" &
handheld_pid=$!
for _ in $(seq 600); do
  grep -q "running;" "$work/handheld.out" 2>/dev/null && break
  if ! kill -0 "$handheld_pid" 2>/dev/null; then
    echo "handheld-half: the handheld ended at once:" >&2
    cat "$work/handheld.log" >&2
    exit 1
  fi
  sleep 0.1
done
if ! grep -q "running;" "$work/handheld.out"; then
  echo "handheld-half: the handheld did not come up within a minute" >&2
  exit 1
fi
cat "$work/handheld.out"
# The program serves its control socket before the handheld has booted.
for _ in $(seq 600); do
  ctl status --json 2>/dev/null | grep -q '"started":true' && break
  sleep 0.1
done
ctl status || true

step "Desktop side: the device link copies the image and restarts the handheld into the flasher"
driver_status=0
"$driver" "$image" || driver_status=$?

step "The handheld afterwards"
ctl status || true

step "Checks"
content_bytes=$(($(stat -c %s "$image") - 512))
flash_status=0
if ctl dump-flash "$work/flash.bin" --offset 0x40000 --length "$content_bytes" &&
  cmp -s -i 512:0 "$image" "$work/flash.bin"; then
  echo "flash: the image area (offset 0x40000, $content_bytes bytes) equals the image contents"
else
  echo "flash: the image area differs from the image contents"
  flash_status=1
fi
if [ "$driver_status" -eq 0 ]; then
  echo "ROM: the handheld reports the new ROM"
else
  echo "ROM: the driver failed (exit code $driver_status)"
fi
screenshot="$build_dir/handheld-half-end.png"
if ctl screenshot "$screenshot"; then
  echo "screen: $screenshot"
fi
if [ -s "$work/handheld.log" ]; then
  echo "handheld log:"
  sed 's/^/  /' "$work/handheld.log"
fi

echo
if [ "$driver_status" -eq 0 ] && [ "$flash_status" -eq 0 ]; then
  echo "handheld-half: PASSED"
  exit 0
fi
echo "handheld-half: FAILED"
exit 1
