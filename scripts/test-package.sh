#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The packaging stage of ./test: makes the Debian package from the Release build in BUILD_DIR
# (default build-release; configured here when ./test has not), checks it with lintian and
# desktop-file-validate, installs it with dpkg -i, runs the installed programs, removes it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zta_setup

build="${1:-build-release}"
if [ ! -f "$build/CMakeCache.txt" ]; then
    # A packager's build: a new compiler's new warning must not stop it.
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZTA_WERROR=OFF >/dev/null
fi
grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" \
    || { echo "test-package: $build is not a Release build" >&2; exit 1; }
cmake --build "$build" -j "$(nproc)" --target zta-k7 zta-bus zta-sim zta_package_files
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"

out="$build/package"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$PWD/package" >/dev/null)
deb="$(ls "$out"/zta-k7_"$version"_*.deb)"
echo "-- $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb --field "$deb" Depends Recommends

fail() { echo "test-package: $*" >&2; exit 1; }

desktop-file-validate packaging/zta-k7.desktop
# Lintian's warnings are shown; its errors fail the stage.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
installed_before=0
dpkg-query -W -f='${Status}' zta-k7 2>/dev/null | grep -q 'install ok installed' && installed_before=1
home="$(mktemp -d)"
sim=""
cleanup() {
    if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
    rm -rf "$home"
    [ "$installed_before" = 1 ] || $sudo dpkg -r zta-k7 >/dev/null
}
trap cleanup EXIT
$sudo dpkg -i "$deb" >/dev/null

entry=/usr/share/applications/zta-k7.desktop
desktop-file-validate "$entry"
exec_cmd="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
[ "$(command -v "$exec_cmd")" = /usr/bin/zta-k7 ] || fail "the menu entry runs '$exec_cmd'"
[ -f /usr/share/icons/hicolor/scalable/apps/zta-k7.svg ] || fail "no icon"

shown="$(cd / && QT_QPA_PLATFORM=offscreen /usr/bin/zta-k7 --version 2>/dev/null || true)"
[ "$shown" = "zta-k7 $version" ] || fail "zta-k7 --version says '$shown', not 'zta-k7 $version'"
/usr/bin/zta-bus --help | grep -q '^usage: zta-bus' || fail "zta-bus --help"
[ "$(/usr/bin/zta-sim --version)" = "zta-sim $version" ] || fail "zta-sim --version"

# A user's first run of the installed station: its records go to the documents folder, which
# the first record makes. Root may write into /usr/bin, so this holds as root too.
/usr/bin/zta-sim --link "$home/bus" --analyzer address=1 >"$home/sim.log" 2>&1 &
sim=$!
for _ in $(seq 1 300); do [ -e "$home/bus" ] && break; sleep 0.1; done
[ -e "$home/bus" ] || { cat "$home/sim.log" >&2; fail "zta-sim did not start"; }
(cd "$home" && HOME="$home" XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORM=offscreen \
    /usr/bin/zta-k7 --port "$home/bus" --open 1 --connect --timer 1 \
    --screenshot "$home/shot.png" --wait 2500 2>/dev/null)
[ -s "$home/Documents/ZTA-K7/1timer.zta" ] || fail "no records in ~/Documents/ZTA-K7/"
echo "-- installed zta-k7 $version: runs, and records into ~/Documents/ZTA-K7/"
