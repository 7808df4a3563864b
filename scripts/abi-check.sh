#!/usr/bin/env bash
# Pins the binary interface of the plug-in, the stand-in host library and the capture library,
# per flavour: the baselines of an i386 Qt 5 build are in abi/, those of an i386 Qt 4 build
# (VRN3_QT=4) in abi/qt4/, those of an amd64 build (the *-64 presets) in abi/amd64/.
#   scripts/abi-check.sh <build dir>            compare with the baselines of the build's
#                                               flavour; fails on any change
#   scripts/abi-check.sh <build dir> --update   write new baselines (a deliberate interface
#                                               change: commit them with the change)
# Each library's interface is written with abidw (exported symbols, SONAME, NEEDED and the types
# in its debug information) without anything that depends on where the tree or the build lives:
# no corpus or compilation paths, no source locations, and the source root cut from the names of
# the compilation units. The check then runs abidiff against the baseline, which explains what
# changed, and also compares the two descriptions line by line, so that a change abidiff deems
# harmless (a new member of a brick class, a new type) still fails until it is renewed on purpose.
# abidw does not write its declarations in a fixed order (two builds of one tree in different
# folders list them differently), so the lines are compared as sorted sets, not in place.
# Run it on a build with debug information (test.sh's release build has -g).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LIBS=("sound/libVRN3SoundStream.so.1" "host/libvrn3host.so.1" "capture/libvrn3capture.so.1")

usage() { echo "usage: $0 <build dir> [--update]" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 2 ] || usage
BUILD="$(cd "$1" && pwd)"
UPDATE=0
if [ $# -eq 2 ]; then [ "$2" = "--update" ] || usage; UPDATE=1; fi

# The source tree the build was configured from; its path is cut from the description.
SRC="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$BUILD/CMakeCache.txt" 2>/dev/null || true)"
[ -n "$SRC" ] || SRC="$ROOT"
QT="$(sed -n 's/^VRN3_QT:STRING=//p' "$BUILD/CMakeCache.txt" 2>/dev/null || true)"
case "${QT:-5}" in
    5) BASELINES="$ROOT/abi" ;;
    4) BASELINES="$ROOT/abi/qt4" ;;
    *) echo "abi-check: $BUILD is built on an unknown Qt flavour '$QT'" >&2; exit 1 ;;
esac
if grep -q '^CMAKE_TOOLCHAIN_FILE:.*amd64-toolchain' "$BUILD/CMakeCache.txt" 2>/dev/null; then
    [ "${QT:-5}" = 5 ] || { echo "abi-check: the amd64 flavour is built on Qt 5 only" >&2; exit 1; }
    BASELINES="$ROOT/abi/amd64"
fi
SHOWN="${BASELINES#"$ROOT/"}"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

describe() {
    abidw --no-corpus-path --no-comp-dir-path --no-show-locs "$1" |
        sed -e "s#path='$SRC/#path='#g" -e "s#path='$ROOT/#path='#g"
}

status=0
mkdir -p "$BASELINES"
for lib in "${LIBS[@]}"; do
    name="$(basename "$lib")"
    file="$BUILD/$lib"
    baseline="$BASELINES/$name.abi"
    [ -f "$file" ] || { echo "abi-check: $file is not built" >&2; exit 1; }
    describe "$file" > "$WORK/$name.abi"
    if grep -q "$SRC" "$WORK/$name.abi"; then
        echo "abi-check: $name: the description still holds the path $SRC" >&2
        exit 1
    fi
    if [ "$UPDATE" = 1 ]; then
        cp "$WORK/$name.abi" "$baseline"
        echo "abi-check: renewed $SHOWN/$name.abi"
        continue
    fi
    [ -f "$baseline" ] || { echo "abi-check: no baseline $SHOWN/$name.abi (run with --update)" >&2; status=1; continue; }
    if ! abidiff --harmless "$baseline" "$WORK/$name.abi" > "$WORK/$name.report" 2>&1; then
        echo "abi-check: $name: abidiff reports a change against $SHOWN/$name.abi:"
        cat "$WORK/$name.report"
        status=1
    elif ! diff -u <(sort "$baseline") <(sort "$WORK/$name.abi") > "$WORK/$name.diff"; then
        echo "abi-check: $name: the interface description differs from $SHOWN/$name.abi:"
        head -n 80 "$WORK/$name.diff"
        status=1
    else
        echo "abi-check: $name: same interface as $SHOWN/$name.abi"
    fi
done

if [ "$status" != 0 ]; then
    echo "abi-check: FAILED. If the change is intended: scripts/abi-check.sh $1 --update, and commit $SHOWN/."
fi
exit "$status"
