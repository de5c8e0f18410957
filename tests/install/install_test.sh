#!/usr/bin/env bash
# Installs a build into a scratch prefix, packs it as a Debian package, and checks both trees the
# way a user meets them: every file where the desktop, software centres, man and bash look for it,
# the desktop entry, metainfo and manual valid, the manual covering every option --help lists, and
# the installed program drawing the same picture as the build it came from, using the resources
# beside it rather than the source tree's; the installed program's window wears its own class and
# icon. The package must be clean under lintian and its binary hardened.
#
# Usage: tests/install/install_test.sh BUILD_DIR
# BUILD_DIR must hold a configured, built tree (build/release).
set -euo pipefail
shopt -s extglob

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

for tool in cmake cpack desktop-file-validate appstreamcli lintian man lexgrog dpkg-deb \
  dpkg-parsechangelog readelf identify compare; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done
[ -x "$build/trembit" ] || fail "$build/trembit is not built"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Runs start from here, so nothing can be found relative to the current folder by accident.
mkdir -p "$scratch/elsewhere"
export XDG_CONFIG_HOME="$scratch/config"
export LANG=C.UTF-8 LANGUAGE=de && unset LC_ALL LC_MESSAGES # German: each tree must find its catalogue

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
    cmp -s "$resource" "$data/${resource##*/}" || fail "$what: share/trembit/${resource##*/} is missing or changed"
  done

  # The desktop entry and the metainfo, under one id: valid, naming a command that this tree
  # provides and opening CSV files with it.
  local id=org.trembit.Trembit
  local desktop="$prefix/share/applications/$id.desktop"
  local report
  report=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$report" ] || fail "$what: desktop-file-validate: $report"
  report=$(appstreamcli validate-tree --no-net --strict "$prefix" 2>&1) || fail "$what: appstreamcli: $report"
  grep -qF "$id.metainfo.xml" <<<"$report" || fail "$what: no share/metainfo/$id.metainfo.xml: $report"
  grep -qx "Exec=trembit %f" "$desktop" && grep -qx "MimeType=text/csv;" "$desktop" ||
    fail "$what: the desktop entry does not open CSV files with 'trembit %f'"
  grep -qx "Icon=$id" "$desktop" || fail "$what: the desktop entry's icon is not $id"

  # Icons at each fixed size the desktop asks for, each really that size, and the scalable one.
  local size
  for size in 48 64 128 256; do
    local png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" found
    found=$(identify -format '%m %wx%h' "$png" 2>/dev/null) || fail "$what: no ${size}x${size} icon $png"
    [ "$found" = "PNG ${size}x${size}" ] || fail "$what: $png is $found, not a ${size}x${size} PNG"
  done
  grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "$what: no scalable SVG icon $id.svg"

  # The manual: renders without a warning, has a NAME line whatis can index, and covers every
  # option --help lists.
  local page="$prefix/share/man/man1/trembit.1.gz"
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

  [ -f "$prefix/share/bash-completion/completions/trembit" ] || fail "$what: no bash completion in share/"
  grep -qx 'License MIT: .*' <<<"$("$binary" --version)" || fail "$what: trembit --version names no MIT licence"

  # A run from another folder: nothing said but the source in use, the German of its own catalogue,
  # and the very picture the build tree draws.
  local shot="$scratch/$what.png" errors="$scratch/$what.stderr"
  (cd "$scratch/elsewhere" && "$binary" --headless --duration 1 --source sim --screenshot "$shot" \
    --dump-state "$scratch/$what.json") 2>"$errors" || fail "$what: trembit exited with status $?: $(cat "$errors")"
  [ "$(cat "$errors")" = "trembit: source: sim (the built-in simulation)" ] ||
    fail "$what: trembit wrote to standard error: $(cat "$errors")"
  grep -q '"shownTitle": "Einstellungen"' "$scratch/$what.json" || fail "$what: no German from its share/locale"
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
"$source_dir/tests/install/completion_test.sh" "$prefix/bin/trembit" "$prefix/share/bash-completion/completions/trembit" ||
  fail "the installed bash completion"
"$source_dir/tests/e2e/window_test.sh" "$prefix/bin/trembit" || fail "the installed program in a window"

# --- the Debian package
(cd "$build" && cpack -G DEB -B "$scratch/package" >"$log" 2>&1) || fail "cpack -G DEB failed: $(cat "$log")"
debs=("$scratch"/package/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "cpack made no single .deb: $(ls "$scratch/package")"
fi
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = trembit ] || fail "the package is named '$(field Package)'"
# The program's version with a Debian revision, the version of the changelog's first entry.
version=$("$build/trembit" --version | awk 'NR == 1 {print $2}')
[[ "$(field Version)" == "$version"-+([0-9]) ]] || fail "the package's version $(field Version) is not the program's $version"
depends=$(field Depends)
note "Depends: $depends"

report=$(lintian --no-cfg --fail-on error,warning "$deb" 2>&1) || fail "lintian: $report"
[ -z "$(grep -v 'running with root privileges' <<<"$report")" ] || fail "lintian: $report"

outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' || true)
[ -z "$outside" ] || fail "the package puts files outside /usr: $outside"

root="$scratch/root"
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x could not unpack $deb"

# What dpkg-shlibdeps finds the binary links, and what it needs without linking it: the font its
# text is set in and the EGL SDL loads for a window on Wayland.
declared=" $(sed -E 's/\([^)]*\)//g; s/[,|]/ /g' <<<"$depends" | tr -s ' ') "
for package in libc6 libsdl2-2.0-0 libcairo2 fonts-dejavu-core libegl1; do
  [[ "$declared" == *" $package "* ]] || fail "Depends does not name $package (Depends: $depends)"
done

[ "$(dpkg-parsechangelog -l "$root/usr/share/doc/trembit/changelog.Debian.gz" -S Version)" = "$(field Version)" ] ||
  fail "the first entry of usr/share/doc/trembit/changelog.Debian.gz is not the package's version"

# Hardened as Debian's own packages are: PIE, full RELRO (BIND_NOW), the stack protector and
# _FORTIFY_SOURCE's checked functions.
elf=$(readelf -hldW --dyn-syms "$root/usr/bin/trembit")
for mark in 'Type: *DYN' GNU_RELRO 'FLAGS.*BIND_NOW' __stack_chk_fail '__[a-z]+printf_chk'; do
  grep -qE "$mark" <<<"$elf" || fail "the packed binary is not hardened: no '$mark' in its ELF headers"
done

check_tree "$root/usr" packaged

echo "install_test: 2 passed, 0 failed"
