#!/usr/bin/env bash
# Full screen on a bare X server, as on a small board: Xvfb with no window manager. The page must
# fill the screen scaled to fit and centred, with black bars beside it, and a click where the run
# button is drawn must press it. Ctrl+S twice then makes two pictures in the pictures folder, and
# the title tells of them for two seconds.
# Usage: fullscreen_test.sh PATH/TO/trembit
set -euo pipefail
name="full-screen test"
trembit=$(realpath "$1")
source "$(dirname "$0")/xvfb.sh"

# 800 x 600: the page (2:3) is 400 x 600 pixels, 1.25 pixels a point, from x = 200 to 600.
start_xvfb 800x600
cd "$work"
mkdir -p "$work/config" "$work/home"
echo 'XDG_PICTURES_DIR="$HOME/Bilder"' >"$work/config/user-dirs.dirs" # made at the first save
HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$trembit" --source sim --fullscreen --dump-state "$work/state.json" \
  >"$work/out.log" 2>&1 &
pids+=($!)
app_pid=$!
wait_for_line "$work/out.log" "video driver: x11" || fail "no window on X11: $(cat "$work/out.log")"
sleep 1.5
import -window root "$work/screen.png"

# The mean brightness (0 to 1) of a region WxH+X+Y of the grab.
mean() { convert "$work/screen.png" -crop "$1" +repage -colorspace Gray -format '%[fx:mean]' info:; }
below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
for bar in 200x600+0+0 200x600+600+0; do
  below "$(mean $bar)" 0.01 || fail "the bar $bar beside the page is not black"
done
# The page's bottom corners, on both sides: the toolbar, so the page is whole and not cut.
for corner in 20x10+202+588 20x10+578+588; do
  below 0.3 "$(mean $corner)" || fail "no toolbar at the page's bottom corner $corner: the page is not whole"
done

# The run button is drawn about point (41, 455): pixel (251, 569). Without a window manager the
# pointer is the focus, so the key goes to the window under it.
xdotool mousemove 251 569 click 1
sleep 0.5

window=$(xdotool search --class '^org\.trembit\.Trembit$' | head -n1)
xdotool key ctrl+s ctrl+s
sleep 0.6
title=$(xdotool getwindowname "$window")
[[ "$title" == "Saved Trembit "*.png ]] || fail "the title does not tell of the save: $title"
sleep 2
title=$(xdotool getwindowname "$window")
[[ "$title" == "Trembit "*" peak "* ]] || fail "the title did not return to its readings: $title"
saved=$(find "$work/home/Bilder" -name 'Trembit [0-9]*-[0-9]*-[0-9]* [0-9]*-[0-9]*-[0-9]*.png' | wc -l)
[ "$saved" -eq 2 ] || fail "Ctrl+S twice made $saved pictures in the pictures folder: $(ls -R "$work/home")"
xdotool key ctrl+q
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "Ctrl+Q did not quit"
wait "$app_pid" || fail "trembit exited with status $?: $(cat "$work/out.log")"
state=$(tr -d ' \n' <"$work/state.json")
case "$state" in *'"updatingIsEnabled":false'*) ;; *) fail "the click on the run button did not pause: $state" ;; esac
echo "$name: passed (the page whole and centred between black bars; a click on the run button paused; two Ctrl+S pictures)"
