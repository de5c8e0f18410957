#!/usr/bin/env bash
# Installs a build into a scratch prefix, packs it as a Debian package, and checks both trees the
# way a user meets them: every file where the desktop and man look for it, the desktop entry and
# the manual valid, the manual covering every option --help lists, and the installed program
# drawing the same picture as the build it came from, using the resources beside it rather than
# the source tree's.
#
# Usage: tests/install/install_test.sh BUILD_DIR
# BUILD_DIR must hold a configured, built tree (build/release).
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
  echo "install_test: FAIL: $*" >&2
  exit 1
}
note() { echo "install_test: $*"; }

for tool in cmake cpack desktop-file-validate man lexgrog dpkg-deb dpkg-shlibdeps identify compare; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done
[ -x "$build/trembit" ] || fail "$build/trembit is not built"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Runs start from here, so nothing can be found relative to the current folder by accident.
mkdir -p "$scratch/elsewhere"
export XDG_CONFIG_HOME="$scratch/config"

# The same run of the simulation by the build tree's binary (which reads the source tree's
# resources): an installed copy must draw exactly this.
reference="$scratch/reference.png"
(cd "$scratch/elsewhere" && "$build/trembit" --headless --duration 1 --source sim --screenshot "$reference") ||
  fail "the build tree's trembit could not take the reference screenshot"

# Checks an installed tree whose prefix is $1 (a scratch prefix, or usr/ of an unpacked package).
check_tree() {
  local prefix=$1
  local what=$2
  local binary="$prefix/bin/trembit"
  local data="$prefix/share/trembit"

  [ -x "$binary" ] || fail "$what: no executable bin/trembit"

  # Every resource the program ships, unchanged.
  local resource
  for resource in "$source_dir"/resources/*; do
    local name
    name=$(basename "$resource")
    [ -f "$data/$name" ] || fail "$what: share/trembit/$name is missing"
    cmp -s "$resource" "$data/$name" || fail "$what: share/trembit/$name differs from resources/$name"
  done

  # The desktop entry: valid, and naming a command and an icon that this tree provides.
  local desktop="$prefix/share/applications/trembit.desktop"
  [ -f "$desktop" ] || fail "$what: share/applications/trembit.desktop is missing"
  local report
  report=$(desktop-file-validate "$desktop" 2>&1) || fail "$what: desktop-file-validate: $report"
  if grep -E 'error|warning' <<<"$report" >/dev/null; then
    fail "$what: desktop-file-validate: $report"
  fi
  local launcher icon
  launcher=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -x "$prefix/bin/$launcher" ] || fail "$what: the desktop entry runs '$launcher', which is not in bin/"

  # Icons at each fixed size the desktop asks for, each really that size, and the scalable one.
  local size
  for size in 48 64 128 256; do
    local png="$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png"
    [ -f "$png" ] || fail "$what: no ${size}x${size} icon named '$icon' as the desktop entry says"
    local found
    found=$(identify -format '%m %wx%h' "$png" 2>/dev/null) || fail "$what: $png is not an image"
    [ "$found" = "PNG ${size}x${size}" ] || fail "$what: $png is $found, not a ${size}x${size} PNG"
  done
  local svg="$prefix/share/icons/hicolor/scalable/apps/$icon.svg"
  [ -f "$svg" ] || fail "$what: no scalable icon named '$icon'"
  grep -q '<svg' "$svg" || fail "$what: $svg is not an SVG document"

  # The manual: renders without a warning, has a NAME line whatis can index, and covers every
  # option --help lists.
  local page="$prefix/share/man/man1/trembit.1"
  [ -f "$page" ] || fail "$what: share/man/man1/trembit.1 is missing"
  local warnings
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "$what: man cannot render trembit.1"
  [ -z "$warnings" ] || fail "$what: trembit.1 renders with warnings:
$warnings"
  lexgrog "$page" >/dev/null 2>&1 || fail "$what: trembit.1 has no NAME section whatis can read"
  local rendered help option
  rendered=$(MANWIDTH=200 man -l "$page" 2>/dev/null | sed 's/.\x08//g')
  help=$("$binary" --help) || fail "$what: trembit --help failed"
  # An option counts as covered when it heads an item of its own, as in "--scale N" or
  # "-h, --help", not merely when an example happens to use it.
  for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -qE -- "^ {7}(-[a-zA-Z-]+, )*$option( |$)" <<<"$rendered" ||
      fail "$what: trembit --help lists $option but the manual has no item for it"
  done

  # A run from another folder: nothing said but the source in use, and the very picture the build
  # tree draws.
  local shot="$scratch/$what.png"
  local errors="$scratch/$what.stderr"
  (cd "$scratch/elsewhere" && "$binary" --headless --duration 1 --source sim --screenshot "$shot") 2>"$errors" ||
    fail "$what: trembit exited with status $?: $(cat "$errors")"
  [ "$(cat "$errors")" = "trembit: source: sim (the built-in simulation)" ] ||
    fail "$what: trembit wrote to standard error: $(cat "$errors")"
  [ -s "$shot" ] || fail "$what: trembit wrote no screenshot"
  local colours
  colours=$(identify -format '%k' "$shot") || fail "$what: the screenshot is not an image"
  [ "$colours" -gt 100 ] || fail "$what: the screenshot is nearly blank ($colours colours)"
  compare -metric AE "$reference" "$shot" null: 2>/dev/null ||
    fail "$what: the screenshot differs from the build tree's ($shot)"

  # The resources it used are its own: a copy of the tree with a broken interface file must fail
  # on that very file, wherever the copy is.
  local moved="$scratch/moved-$what"
  cp -a "$prefix" "$moved"
  echo '{ broken' >"$moved/share/trembit/MainWindow.json"
  local status=0
  (cd "$scratch/elsewhere" && "$moved/bin/trembit" --headless --duration 1 --source sim) 2>"$errors" || status=$?
  [ "$status" -eq 2 ] || fail "$what: a moved copy with a broken interface file exited with $status, not 2"
  grep -qF "$moved/share/trembit/MainWindow.json" "$errors" ||
    fail "$what: a moved copy did not read its own share/trembit: $(cat "$errors")"
  rm -rf "$moved"

  note "$what: tree, desktop entry, icons, manual and run checked"
}

# --- cmake --install
prefix="$scratch/prefix"
log="$scratch/install.log"
cmake --install "$build" --prefix "$prefix" >"$log" 2>&1 || fail "cmake --install failed: $(cat "$log")"
check_tree "$prefix" installed

# --- the Debian package
(cd "$build" && cpack -G DEB -B "$scratch/package" >"$log" 2>&1) || fail "cpack -G DEB failed: $(cat "$log")"
debs=("$scratch"/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "cpack made no single .deb: $(ls "$scratch/package")"
fi
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = trembit ] || fail "the package is named '$(field Package)'"
version=$("$build/trembit" --version | awk '{print $2}')
[ "$(field Version)" = "$version" ] || fail "the package's version $(field Version) is not the program's $version"
depends=$(field Depends)
note "Depends: $depends"

outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' || true)
[ -z "$outside" ] || fail "the package puts files outside /usr: $outside"

root="$scratch/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x could not unpack $deb"

# Every library package the packed binary needs, as dpkg-shlibdeps works them out, is depended on,
# and so is the font its text is set in.
mkdir -p "$scratch/shlibs/debian"
printf 'Source: trembit\n\nPackage: trembit\nArchitecture: any\n' >"$scratch/shlibs/debian/control"
needed=$(cd "$scratch/shlibs" && dpkg-shlibdeps -O "$root/usr/bin/trembit" 2>/dev/null) ||
  fail "dpkg-shlibdeps could not read the packed binary"
needed=${needed#shlibs:Depends=}
declared=" $(sed -E 's/\([^)]*\)//g; s/[,|]/ /g' <<<"$depends" | tr -s ' ') "
for package in $(sed -E 's/\([^)]*\)//g; s/[,|]/ /g' <<<"$needed"); do
  [[ "$declared" == *" $package "* ]] || fail "the binary needs $package but Depends does not name it (Depends: $depends)"
done
[[ "$declared" == *" fonts-dejavu-core "* ]] || fail "Depends does not name the font package fonts-dejavu-core"

check_tree "$root/usr" packaged

echo "install_test: 2 passed, 0 failed"
