#!/usr/bin/env bash
# Proves that an install is relocatable and serves a host author who has only the install:
#   scripts/example-check.sh [build dir]      (default build/release, configured by test.sh)
#  1. installs the build into a staging prefix, then MOVES the staged tree elsewhere;
#  2. builds examples/minimal-host out of tree against the moved tree, through its CMake package
#     alone, runs it and shows its output (the "SCfg" and "SCDA" the plug-in sent);
#  3. runs the moved tree's bin/vrn3-play on samples/sample.wav: it must find its host library
#     through its $ORIGIN-relative path and load the moved plug-in;
#  4. asks pkg-config for the moved host library's flags;
#  5. greps every installed file for the build folder and the original prefix: nothing may name
#     them; and checks that no ELF file of the build tree has an empty library path entry.
# i386 Qt Core is not installed on a build machine; the build's sysroot (or Qt 4 folder) stands
# in for it through LD_LIBRARY_PATH, which holds nothing of the install.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/release}" && pwd)"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$BUILD/CMakeCache.txt"; }
SYSROOT="$(cache VRN3_SYSROOT)"
QT4_DIR="$(cache VRN3_QT4_DIR)"
EMULATOR="$(bash "$ROOT/scripts/i386-emulator.sh" "$BUILD")"
run_i386() { ${EMULATOR:+"$EMULATOR"} "$@"; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
say() { echo "example-check: $*"; }
die() { say "FAILED: $*"; exit 1; }

QT_LIBS="$SYSROOT/usr/lib/i386-linux-gnu:$SYSROOT/lib/i386-linux-gnu"
if [ "$(cache VRN3_QT)" = 4 ]; then
    # The host's libQtCore.so.4 (in a copy of the Qt 4 folder without links that name is text).
    QT_LIBS="$WORK/qt4" && mkdir -p "$QT_LIBS"
    qt4="$(realpath "$QT4_DIR/lib/libQtCore.so.4")"
    head -c 4 "$qt4" | grep -q ELF || qt4="$(realpath "$QT4_DIR/lib/$(tr -d '\n' <"$qt4")")"
    ln -s "$qt4" "$QT_LIBS/libQtCore.so.4"
fi

# --- 1. install, then move ----------------------------------------------------------------
cmake --build "$BUILD" -j 2 --target vrn3host VRN3SoundStream vrn3-play >/dev/null
STAGE="$WORK/stage" MOVED="$WORK/moved/opt/vrn3"
cmake --install "$BUILD" --prefix "$STAGE" >/dev/null
mkdir -p "$(dirname "$MOVED")" && mv "$STAGE" "$MOVED"
say "installed into $STAGE, moved to $MOVED"

# --- 2. the example, out of tree, against the moved install -------------------------------
cp -r "$ROOT/examples/minimal-host" "$WORK/src"
cmake -S "$WORK/src" -B "$WORK/example" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-m32 -DCMAKE_LIBRARY_ARCHITECTURE=i386-linux-gnu \
    "-DCMAKE_PREFIX_PATH=$MOVED;$SYSROOT/usr" "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-rpath-link,${QT_LIBS//:/,-rpath-link,}" \
    >"$WORK/example.log" 2>&1 || { cat "$WORK/example.log"; die "the example does not configure"; }
cmake --build "$WORK/example" >>"$WORK/example.log" 2>&1 || { cat "$WORK/example.log"; die "the example does not build"; }
say "minimal-host built against the moved install; its output:"
LD_LIBRARY_PATH="$QT_LIBS" run_i386 "$WORK/example/minimal-host" | tee "$WORK/example.out" | sed 's/^/    /'
grep -q '^SCfg: codec ima1, 8000 Hz, 2 bytes a sample' "$WORK/example.out" || die "no SCfg from the example"
grep -q '^SCDA: time 3040, 16 payload bytes "one sound record"' "$WORK/example.out" || die "no SCDA from the example"
[ "$(grep -c '^Tag : Tag[SF]' "$WORK/example.out")" = 2 ] || die "the example's chunk lacks its tags"
grep -qF "loaded $MOVED/lib/i386-linux-gnu/vrn3/plugins/libVRN3SoundStream.so.1" "$WORK/example.out" ||
    die "the example did not load the moved plug-in"

# --- 3. the moved vrn3-play ---------------------------------------------------------------
say "the moved vrn3-play (RPATH $(readelf -d "$MOVED/bin/vrn3-play" | sed -n 's/.*path: \[\(.*\)\]/\1/p')):"
(cd "$WORK" && LD_LIBRARY_PATH="$QT_LIBS" run_i386 "$MOVED/bin/vrn3-play" -o "$WORK/sample.out.wav" "$ROOT/samples/sample.wav") |
    tee "$WORK/play.out" | sed 's/^/    /'
plugin="$(sed -n 's/^ *plug-in *//p' "$WORK/play.out")"
[ "$(realpath "$plugin")" = "$MOVED/lib/i386-linux-gnu/vrn3/plugins/libVRN3SoundStream.so.1" ] ||
    die "vrn3-play did not load the moved plug-in"
[ -s "$WORK/sample.out.wav" ] || die "vrn3-play wrote no sound"

# --- 4. pkg-config ------------------------------------------------------------------------
export PKG_CONFIG_PATH="$MOVED/lib/i386-linux-gnu/pkgconfig:$SYSROOT/usr/lib/i386-linux-gnu/pkgconfig"
say "pkg-config --cflags --libs vrn3host: $(pkg-config --cflags --libs vrn3host)"
include="$(pkg-config --cflags-only-I vrn3host | awk '{print substr($1, 3)}')"
[ "$(realpath "$include")" = "$MOVED/include" ] || die "pkg-config does not give the moved include folder"
[ "$(realpath "$(pkg-config --variable=plugin vrn3host)")" = "$MOVED/lib/i386-linux-gnu/vrn3/plugins/libVRN3SoundStream.so.1" ] ||
    die "pkg-config does not give the moved plug-in"

# --- 5. nothing names the build or the original prefix; no empty library path entry -------
found="$(grep -rlF -e "$BUILD" -e "$STAGE" "$MOVED" || true)"
say "grep -rlF -e $BUILD -e $STAGE <moved install>: ${found:-nothing}"
empty=""
while IFS= read -r f; do
    path="$(readelf -d "$f" 2>/dev/null | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')"
    [ -n "$path" ] && grep -qE '(^|:)(:|$)' <<<"$path" && empty+=" ${f#"$BUILD/"}"
done < <(find "$BUILD" -path "$BUILD/CMakeFiles" -prune -o -type f \( -perm -u+x -o -name '*.so*' \) -print)
say "ELF files of the build tree with an empty library path entry:${empty:- none}"
[ -z "$found" ] || die "installed files name the build tree or the original prefix"
[ -z "$empty" ] || die "empty library path entries"
say "PASSED"
