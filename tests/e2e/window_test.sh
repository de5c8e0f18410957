#!/usr/bin/env bash
# The program in a real window under Xvfb, used with the mouse and the keyboard through xdotool.
# Usage: window_test.sh PATH/TO/trembit
# Clicks the run button, the settings button, a segment and Save, takes screenshots of the window
# between them, quits with Ctrl+Q, then checks the title, the state at exit, the saved preferences
# and the screenshots. Xvfb and the program are cleaned up whatever happens.
set -euo pipefail

trembit=$(realpath "$1")
work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "window test: $*" >&2; exit 1; }

# A free display, picked by Xvfb itself.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
# The title is checked in English, whatever language the caller runs in.
unset LANGUAGE LC_ALL LC_MESSAGES

cd "$work"
XDG_CONFIG_HOME="$work/config" "$trembit" --source sim --scale 1 --dump-state "$work/state.json" \
  --trigger 5 --events /dev/null/ev >"$work/out.log" 2>&1 &
app_pid=$!

# The window is found by the class desktops match to its entry, and must carry the entry's icon.
find_window() { xdotool search --class '^org\.trembit\.Trembit$' 2>/dev/null | head -n1 || true; }
for _ in $(seq 100); do window=$(find_window); [ -n "$window" ] && break; sleep 0.1; done
[ -n "$window" ] || fail "no window of class org.trembit.Trembit appeared: $(cat "$work/out.log")"
sleep 1.5
[ "$(xprop -id "$window" _NET_WM_ICON | grep -c 'Icon (128 x 128)')" = 1 ] || fail "the window has no 128-pixel icon: $(cat "$work/out.log")"

# A window shows its pictures through plain shared memory: a GPU driver loaded for it (Mesa's
# software one under Xvfb) would triple the program's resident memory.
if grep -qE 'libGLX|libEGL|_dri\.so|libLLVM|swrast|llvmpipe' "/proc/$app_pid/maps"; then
  fail "a GPU driver was loaded for the window: $(grep -oE '[^/ ]*(GLX|EGL|_dri|LLVM)[^/ ]*$' "/proc/$app_pid/maps" | sort -u | tr '\n' ' ')"
fi

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
shot() { import -window "$window" "$work/$1.png"; }

shot recording
[[ $(xdotool getwindowname "$window") == *' rms '*' 0 events (not saved)' && $(grep -c 'events not saved' "$work/out.log") == 1 ]] ||
  fail "the title '$(xdotool getwindowname "$window")' or the log does not say that events are not saved: $(cat "$work/out.log")"
click 41 455          # the run button: pause
sleep 0.3
shot paused
click 270 455         # the settings button: turn to the settings page
sleep 1.6
shot settings
click 250 365         # the third segment of the axes control (X+Y+Z)
sleep 0.3
click 270 455         # Save: back to the recorder page
sleep 1.6
shot back
xdotool key --window "$window" ctrl+q 2>/dev/null || true  # the window may be gone before the key-up
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then fail "Ctrl+Q did not quit"; fi
wait "$app_pid" || fail "trembit exited with status $?: $(cat "$work/out.log")"
app_pid=""

state=$(tr -d ' \n' <"$work/state.json")
for want in '"page":"recorder"' '"updatingIsEnabled":false' '"axis":2' '"events":{"count":0}'; do
  [[ "$state" == *"$want"* ]] || fail "$want is not in the state at exit: $state"; done
grep -q '^axis=2$' "$work/config/trembit/preferences.conf" || fail "axis=2 was not saved"

# Share of pixels that differ between two screenshots, and the share of ink-blue pixels in one.
differ() { compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1 | awk '{print $1 / (320 * 480)}'; }
ink() { convert "$work/$1.png" -fx '(b > 0.6 && r < 0.45 && g < 0.6) ? 1 : 0' -format '%[fx:mean]' info:; }
above() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }

above "$(differ recording settings)" 0.5 || fail "the settings page looks like the recorder page"
above "$(ink recording)" 0.005 || fail "no ink trace on the recorder page"
above "$(differ paused back)" 0.0001 && fail "the paused page changed while paused" || true
echo "window test: passed (recording, paused, settings and back; axis saved; quit with Ctrl+Q)"
