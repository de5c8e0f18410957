#!/usr/bin/env bash
# Time from process start to the first frame: written (headless, a screenshot taken at once and
# the program ending) and on screen (a window under Xvfb, up to its first present through SDL).
# The probe library, preloaded, says when those moments come.
# Medians of RUNS runs (default 21), in milliseconds, at scale 2: the wall-clock time, and the
# CPU time the process used, which a busy machine does not inflate.
#
# Usage: bench/measure_start.sh [BUILD_DIR]          (default build/release)
set -euo pipefail

build=$(realpath "${1:-build/release}")
trembit="$build/trembit"
probe="$build/bench/libfirst_present_probe.so"
runs=${RUNS:-21}
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "measure_start: $*" >&2; exit 1; }
[ -x "$trembit" ] || fail "no $trembit (build it first)"
[ -f "$probe" ] || fail "no $probe (build it first)"
export XDG_CONFIG_HOME="$work/config"

median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Headless: the first frame is the screenshot. The probe says when its PNG starts to be written
# (the frame is composed) and when the picture is all in it; the whole run ends at the exit.
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  LD_PRELOAD="$probe" /usr/bin/time -f "%U %S" -o "$work/cpu" "$trembit" --headless --fast --duration 0.01 \
    --screenshot "$work/first.png" 2>"$work/headless.log"
  end=$(date +%s%N)
  for what in composed written; do
    stamp=$(awk -v w="first-$what-ns" '$1 == w { print $2 }' "$work/headless.log")
    [ -n "$stamp" ] || fail "no screenshot was written: $(cat "$work/headless.log")"
    echo $(((stamp - start) / 1000)) >>"$work/headless-$what"
  done
  awk '$1 == "first-written-ns" { print $4 / 1000000 }' "$work/headless.log" >>"$work/headless-written-cpu"
  echo $(((end - start) / 1000)) >>"$work/headless-wall"
  awk '{ print ($1 + $2) * 1000 }' "$work/cpu" >>"$work/headless-cpu"
done
ms() { awk '{ print $1 / 1000 }' "$1" | median; }
echo "headless, start to first frame composed: median $(ms "$work/headless-composed") ms;" \
  "to its PNG written: $(ms "$work/headless-written") ms, CPU $(median <"$work/headless-written-cpu") ms;" \
  "to the exit: $(ms "$work/headless-wall") ms, CPU $(median <"$work/headless-cpu") ms; of $runs runs"

# -noreset: an X server with no client left resets itself, rebuilding its keymap among other
# things, and the next client to connect waits for that. Each run here is the server's only client,
# so without it every run after the first would start by waiting out the reset its predecessor's
# exit caused (30 ms and more here). A desktop's server always has its window manager connected
# and never resets in a session; this keeps the runs measuring the program's own start.
exec 3>"$work/display"
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY # measured on X: from a Wayland desktop the program would open its window there

# Windowed: the probe says when the first picture was presented; the run then ends on its own.
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  LD_PRELOAD="$probe" "$trembit" --scale 2 --source sim --duration 0.3 2>"$work/window.log" || true
  shown=$(awk '/^first-present-ns/ { print $2 }' "$work/window.log")
  [ -n "$shown" ] || fail "no frame was presented: $(cat "$work/window.log")"
  echo $(((shown - start) / 1000)) >>"$work/window-wall"
  awk '/^first-present-ns/ { print $4 / 1000000 }' "$work/window.log" >>"$work/window-cpu"
done
echo "window under Xvfb, start to first present: median $(ms "$work/window-wall") ms," \
  "CPU $(median <"$work/window-cpu") ms, of $runs runs"
