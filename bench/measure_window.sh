#!/usr/bin/env bash
# What Trembit costs in a real window under Xvfb at scale 2 and 200 samples per second, beside a
# program that only presents frames of the same size at the same rate (present_only), the same
# while watching for events (--trigger, a level the simulation's taps and bursts reach several
# times a minute, and one its every jolt reaches), and whether every sample reaches the record
# file while the second core is kept busy.
#
# Usage: bench/measure_window.sh [BUILD_DIR]          (default build/release)
# Environment: SECONDS_EACH (30) for each CPU measurement, RECORD_SECONDS (60) for the record run.
#
# The recording runs also say how the intervals between frames fell (the preloaded probe), and
# apart from them those of the frames shown after an event's picture was taken.
#
# CPU is the process's user + system time from /proc/PID/stat over the measured span, as a share
# of one core; the X server's own work is not in it. Resident memory is VmRSS at the end of the
# span. The first two seconds of each run (start, first frames) are left out.
set -euo pipefail

build=$(realpath "${1:-build/release}")
trembit="$build/trembit"
present_only="$build/bench/present_only"
probe="$build/bench/libframe_interval_probe.so"
seconds=${SECONDS_EACH:-30}
record_seconds=${RECORD_SECONDS:-60}
scale=2
rate=200
warm_up=2

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "measure_window: $*" >&2; exit 1; }
[ -x "$trembit" ] || fail "no $trembit (build it first)"
[ -x "$present_only" ] || fail "no $present_only (build it first)"
[ -f "$probe" ] || fail "no $probe (build it first)"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
unset WAYLAND_DISPLAY # measured on X: from a Wayland desktop the program would open its window there

# The sample rate is a setting: index 3 of the rate control is 200 per second.
mkdir -p "$work/config/trembit"
printf '[trembit]\nupdateFrequency=3\n' >"$work/config/trembit/preferences.conf"
export XDG_CONFIG_HOME="$work/config"

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# measure PID LABEL: CPU share of one core over $seconds, then resident memory.
measure() {
  local before after
  before=$(cpu_ticks "$1")
  sleep "$seconds"
  after=$(cpu_ticks "$1")
  awk -v t=$((after - before)) -v hz="$ticks_per_second" -v s="$seconds" -v rss="$(rss_kb "$1")" -v what="$2" \
    'BEGIN { printf "%-34s %6.2f%% of a core   RSS %6.1f MB\n", what, 100 * t / hz / s, rss / 1024 }' |
    tee -a "$work/results"
}

window_of() {
  local window=""
  for _ in $(seq 100); do
    window=$(xdotool search --pid "$1" 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no window appeared"
  echo "$window"
}

echo "Xvfb $DISPLAY, scale $scale, $rate samples per second, $seconds s each"

# record LABEL [OPTION]...: trembit recording with those options, its CPU, memory and frames.
record() {
  local label=$1
  shift
  LD_PRELOAD="$probe" "$trembit" --scale "$scale" --source sim "$@" 2>"$work/trembit.log" &
  app=$!
  pids+=("$app")
  sleep "$warm_up"
  measure "$app" "$label"
  kill "$app"
  wait "$app" || true
  awk -v what="$label" '
    $1 == "frame-intervals" { printf "%-34s %d frames, p50 %s ms, p99 %s ms, longest %s ms", what, $2, $4, $6, $8 }
    $1 == "picture-frame-intervals" { printf "; %d with an event picture, longest %s ms", $2, $4 }
    END { print "" }' "$work/trembit.log"
  grep -h 'events saved\|events not saved\|could not be saved' "$work/trembit.log" || true
}
record "trembit recording"
record "trembit --trigger 0.5" --trigger 0.5 --events "$work/events-some"
record "trembit --trigger 0.2 --hold 0" --trigger 0.2 --hold 0 --pre 0.5 --events "$work/events-many"

"$present_only" --scale "$scale" --duration $((seconds + warm_up + 5)) >"$work/present.log" &
present=$!
pids+=("$present")
sleep "$warm_up"
measure "$present" "present_only (60 frames/s)"
kill "$present"
wait "$present" || true

"$trembit" --scale "$scale" --source sim 2>"$work/trembit-idle.log" &
app=$!
pids+=("$app")
window=$(window_of "$app")
sleep 1
xdotool key --window "$window" space
sleep "$warm_up"
measure "$app" "trembit paused"
xdotool key --window "$window" s
sleep "$warm_up" # the page turn takes a second
measure "$app" "trembit settings page"
kill "$app"
wait "$app" || true

# The share is the number before "% of a core" on each line.
awk '{ match($0, /[0-9.]+% of a core/); v = substr($0, RSTART, RLENGTH - 11) + 0 }
     /^trembit recording/ { t = v } /^present_only/ { p = v }
     END { printf "%-34s %6.2f percentage points\n", "trembit above present_only", t - p }' "$work/results"

# Every sample at 200 per second reaches the record file, with the other core busy.
( while :; do :; done ) &
busy=$!
pids+=("$busy")
"$trembit" --scale "$scale" --source sim --duration "$record_seconds" --record "$work/record.csv" \
  2>"$work/record.log" || fail "the recording run failed: $(cat "$work/record.log")"
kill "$busy"
wait "$busy" 2>/dev/null || true
# Rows are one tick apart: a gap is a sample missed, a repeated time a sample merged.
awk -F, -v dt="$(awk -v r=$rate 'BEGIN { print 1 / r }')" -v secs="$record_seconds" '
  NR == 1 { next }
  NR > 2 { step = $1 - last; if (step > 1.5 * dt) gaps++; if (step < 0.5 * dt) merged++ }
  { last = $1; rows++ }
  END {
    printf "%-34s %d rows in %s s (%d expected), %d gaps, %d merged\n", "record, second core busy",
           rows, secs, secs / dt, gaps, merged
    exit (gaps + merged > 0)
  }' "$work/record.csv" || fail "samples were missed or merged"
