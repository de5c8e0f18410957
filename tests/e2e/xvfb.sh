# Sourced by the window tests: a scratch folder, an Xvfb server on a free display, and cleanup of
# everything started, whatever happens. The caller sets `name` (for messages) and puts the pids of
# what it starts in `pids`.
work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$name: $*" >&2; exit 1; }

# start_xvfb WIDTHxHEIGHT: a server on a display Xvfb picks itself; sets DISPLAY, and leaves
# no Wayland display for the program to prefer.
start_xvfb() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  local _
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(head -n1 "$work/display")"
  unset WAYLAND_DISPLAY # run from a Wayland desktop, the program would open its window there
}

# wait_for_line FILE TEXT: until FILE holds a line with TEXT, at most ten seconds.
wait_for_line() {
  local _
  for _ in $(seq 100); do grep -qF -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
