#!/usr/bin/env bash
# A long run of the headless program on the simulation at 200 samples per second, with pauses,
# page turns and settings saves scripted every few minutes of virtual time.
# Usage: soak_test.sh PATH/TO/trembit HOURS [SECONDS_PER_ROUND]
# Checks: resident memory a third of the way of the run does not grow, every sample is in the
# record file (one row per 5 ms, none missing), the open files stay flat, the preference file is
# valid, and the run ends in the state the script implies.
# CTest runs an hour of virtual time and 1,000 quick page turns; by hand, a day:
#   tests/soak/soak_test.sh build/release/trembit 24
# and 10,000 page turns, each with a settings save:
#   tests/soak/soak_test.sh build/release/trembit 16.67 6
set -euo pipefail

trembit=$(realpath "$1")
hours=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "soak: $*" >&2; exit 1; }

cycle=${3:-180} # seconds of virtual time per round of actions
seconds=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')
rounds=$(awk -v s="$seconds" -v c="$cycle" 'BEGIN { printf "%d", s / c }')
[ "$rounds" -ge 1 ] || fail "run at least one round of $cycle s"
awk -v c="$cycle" 'BEGIN { exit !(c >= 6) }' || fail "a round needs at least 6 s (two page turns)"

mkdir -p "$work/config/trembit"
printf '[trembit]\nupdateFrequency=3\n' >"$work/config/trembit/preferences.conf"
# Each round: record, pause, record, then visit the settings page and change two settings.
awk -v rounds="$rounds" -v c="$cycle" -v state="$work/state.json" 'BEGIN {
  a = c * 0.3; rest = c - 2 * a - 1.2
  for (i = 0; i < rounds; i++) {
    printf "wait %g\ntap run\nwait %g\ntap run\n", a, a
    printf "tap settings\nwait 1.2\nselect axis %d\nselect filter %d\ntap settings\nwait %g\n", i % 3, i % 2, rest
  }
  printf "dump-state %s\n", state
}' >"$work/script.txt"
seconds=$(awk -v r="$rounds" -v c="$cycle" 'BEGIN { printf "%d", r * c }')

cd "$work"
XDG_CONFIG_HOME="$work/config" "$trembit" --headless --fast --source sim --scale 1 \
  --script "$work/script.txt" --record "$work/record.csv" 2>"$work/err.txt" &
pid=$!
rss=()
fds=()
while kill -0 "$pid" 2>/dev/null; do
  r=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
  f=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l || true)
  [ -n "$r" ] && rss+=("$r") && fds+=("$f")
  sleep 0.2
done
wait "$pid" || fail "trembit exited with status $?: $(cat "$work/err.txt")"

rows=$(($(wc -l <"$work/record.csv") - 1))
expected=$((seconds * 200))
# The script's clock adds up its waits in floating point, so the run may end a hair before the
# last tick; the order check below finds any sample missing in between.
[ "$rows" -ge $((expected - 1)) ] && [ "$rows" -le "$expected" ] ||
  fail "$rows rows in the record file, expected $expected (one per 5 ms)"
awk -F, 'NR > 1 { k = NR - 1; if (($1 - k * 0.005) ^ 2 > 1e-12) { print "row " k " at t = " $1; exit 1 } }' \
  "$work/record.csv" || fail "a sample is missing from the record file"

n=${#rss[@]}
if [ "$n" -ge 10 ]; then
  # A page turn's pictures (a few megabytes, given back when it ends) and a file held open for a
  # moment (the preferences being saved) can be caught by any one look; a leak stays and raises the
  # floor. So the least over the last five looks is compared with the least over five looks a third
  # of the way, for memory and for open files.
  fewest() { printf '%s\n' "$@" | sort -n | head -n1; }
  early=$(fewest "${rss[@]:$((n / 3)):5}")
  late=$(fewest "${rss[@]:$((n - 5)):5}")
  [ "$late" -le $((early + 2048)) ] || fail "resident memory grew from ${early} kB to ${late} kB"
  fds_early=$(fewest "${fds[@]:$((n / 3)):5}")
  fds_late=$(fewest "${fds[@]:$((n - 5)):5}")
  [ "$fds_late" -le "$fds_early" ] || fail "open files grew from ${fds_early} to ${fds_late}"
  echo "soak: resident set ${early} kB a third of the way, ${late} kB at the end; ${fds_late} open files"
else
  echo "soak: the run was too short to sample memory (${n} samples)"
fi

state=$(tr -d ' \n' <"$work/state.json")
last=$((rounds - 1))
case "$state" in *'"page":"recorder"'*'"updatingIsEnabled":true'* | *'"updatingIsEnabled":true'*'"page":"recorder"'*) ;;
  *) fail "not recording on the recorder page at the end: $state" ;; esac
case "$state" in *"\"axis\":$((last % 3))"*) ;; *) fail "the last axis choice is not in the state: $state" ;; esac
grep -q "^axis=$((last % 3))$" "$work/config/trembit/preferences.conf" || fail "the preference file lost the last save"
echo "soak: ${hours} h of virtual time, ${rows} samples recorded in order, ${rounds} page turns with saves"
