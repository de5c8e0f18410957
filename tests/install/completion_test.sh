#!/usr/bin/env bash
# The bash completion as bash-completion loads it: every option --help lists, the values of
# --units and --scale, the sources --list-sources finds (under --sysfs-root), paths after file:,
# and recordings as the FILE argument.
#
# Usage: tests/install/completion_test.sh TREMBIT COMPLETION_FILE
set -uo pipefail
trembit=$1
source /usr/share/bash-completion/bash_completion || exit 1
source "$2" || exit 1
compopt() { :; } # only bash's own completion may call it

fail() {
  echo "completion_test: FAIL: $*" >&2
  exit 1
}

# The replies for a command line whose cursor is at its end, one a line, sorted. Words are split
# at blanks and around ':' as bash splits them, and the program is called by its full path.
replies() {
  COMP_LINE="$trembit $1"
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"$trembit ${1//:/ : }"
  [[ $1 == *' ' || $1 == *: ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _trembit trembit "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

expect() {
  local got
  got=$(replies "$1" | tr '\n' ' ')
  [ "$got" = "$2" ] || fail "'trembit $1' completes to '$got', not '$2'"
}

help=$("$trembit" --help) || fail "trembit --help failed"
offered=$(replies '--' | tr -d '=')
for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -qx -- "$option" <<<"$offered" || fail "--help lists $option but completion does not offer it"
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
device="$scratch/sys/bus/iio/devices/iio:device0"
mkdir -p "$device" "$scratch/runs"
echo accel_3d >"$device/name"
for channel in x y z; do echo 0 >"$device/in_accel_${channel}_raw"; done
echo 0.01 >"$device/in_accel_scale"
touch "$scratch/runs/day.csv" "$scratch/runs/day.png"
cd "$scratch/runs" || exit 1

expect '--units ' 'g ms2 '
expect '--scale=' '1 2 3 '
expect "--sysfs-root $scratch/sys --source i" 'iio iio:accel_3d '
expect "--sysfs-root=$scratch/sys --source iio:" 'accel_3d '
expect '--source file:d' 'day.csv day.png '
expect '--record d' 'day.csv '
expect 'd' 'day.csv '
echo "completion_test: 1 passed, 0 failed"
