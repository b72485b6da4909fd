#!/usr/bin/env bash
# Setup as a process on a real X server (Xvfb), with an emulated handheld on
# its cable: its main menu window appears, and Esc on it ends the program
# cleanly (exit code 0). Arguments: the installation folder (with Setup,
# nuva-handheld, nuva-image and the agent library) and a work folder.
set -euo pipefail
install_dir="$1"
work="$(mktemp -d "${2:-${TMPDIR:-/tmp}}/setup-x11.XXXXXX")"
export NUVA_TIME_SCALE="${NUVA_TIME_SCALE:-0.01}"
export NUVA_LINK="unix:$work/link"
state="$work/handheld"
pids=()

fail() {
  echo "setup-under-x11: $*" >&2
  for log in "$work"/*.log; do
    [ -f "$log" ] && { echo "--- $log" >&2; tail -n 30 "$log" >&2; }
  done
  exit 1
}
cleanup() {
  "$install_dir/nuva-handheld" ctl --state "$state" quit >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# A display of our own: Xvfb picks a free number and tells it.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"

"$install_dir/nuva-image" make --os 2003 --class advanced --lang EN --date 03050300 --name A02 \
  -o "$work/factory.nb0" >/dev/null
"$install_dir/nuva-handheld" --state "$state" --rom "$work/factory.nb0" >"$work/handheld.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  "$install_dir/nuva-handheld" ctl --state "$state" status --json 2>/dev/null | grep -q '"started":true' && break
  sleep 0.1
done

"$install_dir/Setup" >"$work/setup.log" 2>&1 &
setup_pid=$!
pids+=("$setup_pid")

# The main menu: a top-level window with the menu's caption. Its buttons
# are enabled once its checks have passed; give them the time they take.
window=""
for _ in $(seq 600); do
  kill -0 "$setup_pid" 2>/dev/null || fail "Setup ended before its main menu appeared"
  window="$(xdotool search --onlyvisible --name '^Brel Nuva Reflash$' 2>/dev/null | head -n 1 || true)"
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no main menu window within 60 s"
geometry="$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')"
echo "main menu window $window, $geometry"
sleep 1

# Esc ends the main menu with 2, and the program with it.
xdotool windowfocus --sync "$window" key Escape
for _ in $(seq 300); do
  kill -0 "$setup_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$setup_pid" 2>/dev/null; then
  fail "Setup did not end within 30 s of Esc"
fi
set +e
wait "$setup_pid"
code=$?
set -e
[ "$code" -eq 0 ] || fail "Setup ended with $code"
echo "Setup showed its main menu and ended cleanly"
