# Sourced by the demo scripts: starts a factory-new emulated handheld whose
# flash holds an older ROM (A02, 03-05-03) on a private cable in a fresh
# temporary folder, and stops it when the script ends.
# Needs: install_dir (the demo installation folder). Sets: work, state,
# NUVA_LINK (exported), handheld_pid, and the function ctl.

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
