#!/usr/bin/env bash
# The program as a native Wayland client, under a real compositor: Weston nested in Xvfb, drawing
# with pixman. A script runs, pauses, turns to the settings page, picks a segment and saves; the
# test checks the state at the end, the saved preference, that the program said it runs on
# Wayland, and a grab of the Xvfb screen that Weston draws into, to see the page as shown.
# Usage: wayland_test.sh PATH/TO/trembit
set -euo pipefail
name="Wayland test"
trembit=$(realpath "$1")
source "$(dirname "$0")/xvfb.sh"

command -v weston >/dev/null || fail "weston is not installed (scripts/setup installs it)"
start_xvfb 1024x768

# Weston's socket goes in a runtime folder of the test's own, private as the protocol asks.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
weston -B x11-backend.so --use-pixman --socket=wayland-trembit --width=800 --height=700 --idle-time=0 \
  --no-config >"$work/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/wayland-trembit" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/wayland-trembit" ] || fail "Weston did not start: $(tail -n 20 "$work/weston.log")"

cat >"$work/script.txt" <<'SCRIPT'
wait 1
tap run
tap settings
wait 1.5
select axis 2
tap settings
wait 3
dump-state state.json
quit
SCRIPT
cd "$work"
# Only Wayland: with DISPLAY gone too, SDL cannot fall back to the X server beneath.
env -u DISPLAY WAYLAND_DISPLAY=wayland-trembit SDL_VIDEODRIVER=wayland XDG_CONFIG_HOME="$work/config" \
  "$trembit" --source sim --scale 1 --script "$work/script.txt" >"$work/out.log" 2>&1 &
pids+=($!)
app_pid=$!
wait_for_line "$work/out.log" "trembit: video driver: wayland" ||
  fail "the program did not say it runs on Wayland: $(cat "$work/out.log")"
# Back on the recorder page, paused, with the trace drawn: what the compositor shows.
sleep 4.5
import -window root "$work/screen.png"
wait "$app_pid" || fail "trembit exited with status $?: $(cat "$work/out.log")"

state=$(tr -d ' \n' <"$work/state.json")
for expected in '"page":"recorder"' '"updatingIsEnabled":false' '"axis":2'; do
  case "$state" in *"$expected"*) ;; *) fail "the state lacks $expected: $state" ;; esac
done
grep -q '^axis=2$' "$work/config/trembit/preferences.conf" || fail "axis=2 was not saved"

# The page on the screen: the ink-blue trace on chart paper.
ink=$(convert "$work/screen.png" -fx '(b > 0.6 && r < 0.45 && g < 0.6) ? 1 : 0' -format '%[fx:mean*w*h]' info:)
awk -v n="$ink" 'BEGIN { exit !(n > 200) }' || fail "the compositor's screen shows no trace ($ink ink pixels)"
# On a Wayland desktop that also offers X (XWayland), the program picks Wayland by itself.
XDG_CONFIG_HOME="$work/config" WAYLAND_DISPLAY=wayland-trembit "$trembit" --source sim --scale 1 --duration 1 \
  >"$work/both.log" 2>&1 || fail "a run on Wayland with X beside it failed: $(cat "$work/both.log")"
grep -qx "trembit: video driver: wayland" "$work/both.log" ||
  fail "with both Wayland and X at hand, the program did not pick Wayland: $(cat "$work/both.log")"
echo "$name: passed (a Wayland window; paused, settings, axis saved; the page on Weston's screen)"
